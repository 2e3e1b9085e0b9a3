// Shared sessions: authentication, re-login and logout.
#pragma once

#include "device/DeviceContext.h"

// Shared sessions, authentication and re-login.
uint32_t SaveSharedSessionOld(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t SaveSharedSession(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t RestoreSharedSessionOld(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t RestoreSharedSession(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t LoginAndShareSession(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t AuthenticateDevice(DeviceContext* context, const char* password);
uint32_t Relogin(DeviceContext* context);
uint32_t LogoutDevice(DeviceContext* context);
