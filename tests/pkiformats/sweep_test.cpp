// Failure sweeps: for each operation family, every library call in turn
// fails (and, in a second pass, throws). Nothing may stay behind: no live
// object, no unfreed blob, no blob freed with its bytes still in it, and the
// operation answers 0 when the failed step is one it cannot do without.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

namespace {

struct Family {
    const char* name;
    // Runs the operation; returns its result and releases what it handed out.
    std::function<int(SPKIFormats&, fake::Library&)> run;
};

std::vector<PKIBlob> Outs(int n)
{
    return std::vector<PKIBlob>(n, PKIBlob{0, nullptr});
}

const std::string kKey = "secret key bytes";

std::vector<Family> Families()
{
    return {
        {"key parts",
         [](SPKIFormats& f, fake::Library&) {
             auto o = Outs(2);
             PKIBlob part{static_cast<std::uint32_t>(kKey.size()), (std::uint8_t*)kKey.data()};
             int rc = f.CreateKeyPartsRecord(3, 64, &o[0]) && f.AppendKeyPart(&o[0], 1, 1, &part) &&
                      f.CopyKeyPart(&o[0], 1, 1, &o[1]);
             for (PKIBlob& b : o) f.ReleaseBlob(&b);
             return rc;
         }},
        {"records A to G",
         [](SPKIFormats& f, fake::Library&) {
             auto o = Outs(8);
             PKIBlob data{static_cast<std::uint32_t>(kKey.size()), (std::uint8_t*)kKey.data()};
             std::uint32_t k;
             char text[PKIF_RECORD_TEXT_MAX + 1];
             int rc = f.PackRecordA(1, nullptr, "t", 2, &data, &o[0]) &&
                      f.UnpackRecordA(&o[0], &k, nullptr, text, &k, &o[1]) &&
                      f.PackRecordC(1, "t", nullptr, &data, &data, &o[2]) &&
                      f.UnpackRecordC(&o[2], &k, text, nullptr, &o[3], &o[4]) && f.PackRecordD(1, &data, &o[5]) &&
                      f.UnpackRecordE(&o[5], &k, &o[6]) && f.PackWordA(1, &o[7]);
             for (PKIBlob& b : o) f.ReleaseBlob(&b);
             return rc;
         }},
        {"holder records",
         [](SPKIFormats& f, fake::Library&) {
             auto o = Outs(2);
             PKIBlob key{static_cast<std::uint32_t>(kKey.size()), (std::uint8_t*)kKey.data()};
             int rc = f.CreateHolderRecord(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 1, 2, "a", "b",
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &key, nullptr, &key,
                                           nullptr, 1, 0, "UAH", 0, nullptr, 0x10, 0, 0, 0, 0, 0, nullptr, &o[0]) &&
                      f.UpgradeHolderRecord(6, &o[0], &o[1]);
             for (PKIBlob& b : o) f.ReleaseBlob(&b);
             return rc;
         }},
        {"name texts",
         [](SPKIFormats& f, fake::Library&) {
             char out[PKIF_NAME_TEXT_BYTES];
             f.ComposeNameText("1", "UA", "s", "l", "o", "u", "cn", "sn", "gn", "t", out);
             return out[0] ? 1 : 0;
         }},
        {"name parsing",
         [](SPKIFormats& f, fake::Library& lib) {
             lib.parsed[6] = L"common name";  // what the library's parser finds
             char cn[PKIF_NAME_TEXT_BYTES] = "stale";
             f.ParseNameText("CN=common name", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, cn, nullptr,
                             nullptr, nullptr);
             // A failed step leaves the output an empty text, never a stale one.
             return std::string(cn) == "common name" ? 1 : (cn[0] == 0 ? 0 : 2);
         }},
        {"files",
         [](SPKIFormats& f, fake::Library&) {
             const std::string path = testing::TempDir() + std::to_string(getpid()) + "-facade_sweep_key.bin";
             PKIBlob key{static_cast<std::uint32_t>(kKey.size()), (std::uint8_t*)kKey.data()};
             PKIBlob read{0, nullptr};
             int rc = f.WriteBlobToFile(path.c_str(), &key) && f.ReadFileToBlob(path.c_str(), &read) &&
                      f.BlobsEqual(&key, &read);
             if (read.data == nullptr && read.length != 0) rc = 2;  // a failed read hands out nothing
             f.ReleaseBlob(&read);
             std::remove(path.c_str());
             return rc;
         }},
        {"policy level",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* cert = new fake::Certificate(lib);  // made outside the counted calls
             std::uint32_t kind = 0, level = 0;
             int rc = f.GetCertificatePolicyLevel(cert, &kind, &level);
             cert->Release();
             return rc;
         }},
        {"name buffers",
         [](SPKIFormats& f, fake::Library&) {
             const char* oids[] = {"2.5.4.3", "2.5.4.9", "2.5.4.6"};
             void** a = f.AllocateNameAttributeBuffers(3, oids, 4);
             f.FreeMemoryArray(3, a);
             return a ? 1 : 0;
         }},
        {"marked blob",
         [](SPKIFormats& f, fake::Library&) {
             std::string m = std::string("Enis\0\0\0\0\0", 9) + std::string(8, 'h') + kKey;
             PKIBlob b{static_cast<std::uint32_t>(m.size()), (std::uint8_t*)m.data()};
             std::uint32_t format = 0;
             f.ReadMarkedBlob(&b, "pw", &format, nullptr);
             return 1;  // the key reader answers 0 until it is built
         }},
    };
}

}  // namespace

TEST(FacadeFailureSweep, EveryFailingLibraryCallLeavesNothingBehind)
{
    for (const Family& family : Families())
        fake::SweepFailures(family.name, family.run, std::string(family.name) != "marked blob");
}
