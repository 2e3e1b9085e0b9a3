// The key's parameter records of the ten standard polynomial-basis curves,
// built from the support layer's curve records, and the DSTU 4145 engine for
// a record.
#pragma once

#include <array>
#include <memory>

#include "device/DeviceProtocol.h"
#include "dstu4145/DSTU4145.h"
#include "support/CSPParameters.h"

namespace devtest {

inline DeviceKeyParameters StandardParameters(unsigned index)
{
    CSPParameters store;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    DeviceKeyParameters out{};
    if (store.GetStandardCurve(1, index, &field, &point)) MakeDeviceKeyParameters(&field, &point, &out);
    return out;
}

inline std::unique_ptr<dstu4145::Engine> EngineFor(const DeviceKeyParameters& parameters)
{
    dstu4145::Curve curve;
    if (dstu4145::CurveFromDeviceKeyParameters(dstu4145::ByteSpan(parameters.bytes(), 240), curve) !=
        dstu4145::Result::Ok)
        return nullptr;
    return dstu4145::Engine::Create(curve);
}

}  // namespace devtest
