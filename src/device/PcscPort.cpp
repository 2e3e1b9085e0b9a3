// The device layer's only contact with the PC/SC headers: pcsc-lite and the
// Win32 layer define the same basic type names differently, so the calls are
// wrapped here behind plain integer types.
#include <reader.h>
#include <winscard.h>

#include "device/DeviceInternal.h"

static_assert(sizeof(SCARDHANDLE) == sizeof(intptr_t) && sizeof(SCARDCONTEXT) == sizeof(intptr_t),
              "PC/SC handles travel as intptr_t");

namespace qvkdev::pcsc {

long EstablishContext(intptr_t* context)
{
    SCARDCONTEXT c = 0;
    const LONG rc = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &c);
    *context = rc == SCARD_S_SUCCESS ? static_cast<intptr_t>(c) : 0;
    return rc;
}

long ListReaders(intptr_t context, char* buffer, uint32_t* length)
{
    DWORD size = *length;
    const LONG rc = SCardListReaders(static_cast<SCARDCONTEXT>(context), "SCard$AllReaders", buffer, &size);
    *length = static_cast<uint32_t>(size);
    return rc;
}

long ConnectShared(intptr_t context, const char* reader, intptr_t* card)
{
    SCARDHANDLE h = 0;
    DWORD protocol = 0;
    const LONG rc =
        SCardConnect(static_cast<SCARDCONTEXT>(context), reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &h, &protocol);
    *card = rc == SCARD_S_SUCCESS ? static_cast<intptr_t>(h) : 0;
    return rc;
}

long Transmit(intptr_t card, const uint8_t* send, uint32_t sendLength, uint8_t* receive, uint32_t* receivedLength)
{
    DWORD size = *receivedLength;
    const LONG rc =
        SCardTransmit(static_cast<SCARDHANDLE>(card), SCARD_PCI_T1, send, sendLength, nullptr, receive, &size);
    *receivedLength = rc == SCARD_S_SUCCESS ? static_cast<uint32_t>(size) : 0;
    return rc;
}

long GetSystemName(intptr_t card, char* buffer, uint32_t* length)
{
    DWORD size = *length;
    const LONG rc = SCardGetAttrib(static_cast<SCARDHANDLE>(card), SCARD_ATTR_DEVICE_SYSTEM_NAME_A,
                                   reinterpret_cast<LPBYTE>(buffer), &size);
    *length = rc == SCARD_S_SUCCESS ? static_cast<uint32_t>(size) : 0;
    return rc;
}

long Disconnect(intptr_t card)
{
    return SCardDisconnect(static_cast<SCARDHANDLE>(card), SCARD_LEAVE_CARD);
}

long ReleaseContext(intptr_t context)
{
    return SCardReleaseContext(static_cast<SCARDCONTEXT>(context));
}

}  // namespace qvkdev::pcsc
