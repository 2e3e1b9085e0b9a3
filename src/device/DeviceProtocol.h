// Key device protocol: contexts, cross-process locks and caches, protected
// request blocks, discovery and open, password login, storage images and
// shared sessions of the hardware key reached as a PC/SC reader.
//
// Every operation returns 0 or a KeyStatus code unless said otherwise. The
// header deliberately includes neither the PC/SC headers nor the Win32 layer:
// their basic type names clash, so PC/SC handles travel as intptr_t (the
// width of SCARDHANDLE / SCARDCONTEXT on this platform) and the mutex handle
// as void*.
//
// The operation families live in headers of their own; this one includes
// them all, so a caller may include either.
#pragma once

#include "device/DeviceBlock.h"
#include "device/DeviceCipher.h"
#include "device/DeviceContext.h"
#include "device/DeviceJournal.h"
#include "device/DeviceKeys.h"
#include "device/DeviceLogin.h"
#include "device/DeviceOpen.h"
#include "device/DeviceSession.h"
#include "device/DeviceSigning.h"
#include "device/DeviceStatus.h"
#include "device/DeviceStorage.h"
#include "device/DeviceTransport.h"
