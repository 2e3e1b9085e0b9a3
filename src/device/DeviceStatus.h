// Status codes shared by the key's answers and the device layer's local
// failures, and the Windows-1251 texts of the codes and of the journal.
#pragma once

#include <cstdint>

// Status codes shared by the key's answers and the local failures.
using KeyStatus = uint32_t;
inline constexpr KeyStatus KEYERR_OK = 0;
inline constexpr KeyStatus KEYERR_NOT_FOUND = 1;
inline constexpr KeyStatus KEYERR_SEND_FAILED = 2;
inline constexpr KeyStatus KEYERR_RECEIVE_FAILED = 3;
inline constexpr KeyStatus KEYERR_NO_MEMORY = 4;
inline constexpr KeyStatus KEYERR_FILE_SYSTEM = 5;
inline constexpr KeyStatus KEYERR_NO_SPACE = 6;
inline constexpr KeyStatus KEYERR_FILE_EXISTS = 7;
inline constexpr KeyStatus KEYERR_BAD_PARAMETER = 8;
inline constexpr KeyStatus KEYERR_BUFFER_TOO_SHORT = 9;
inline constexpr KeyStatus KEYERR_BAD_REQUEST = 20;
inline constexpr KeyStatus KEYERR_NOT_AUTHENTICATED = 21;
inline constexpr KeyStatus KEYERR_ALREADY_AUTHENTICATED = 22;
inline constexpr KeyStatus KEYERR_WRONG_PASSWORD = 23;
inline constexpr KeyStatus KEYERR_DEVICE_BUSY = 24;
inline constexpr KeyStatus KEYERR_BAD_STATE = 25;
inline constexpr KeyStatus KEYERR_NO_KEY = 26;
inline constexpr KeyStatus KEYERR_KEY_NOT_EXPORTABLE = 27;
inline constexpr KeyStatus KEYERR_BAD_ADDRESS = 28;
inline constexpr KeyStatus KEYERR_BAD_CHECKSUM = 29;
inline constexpr KeyStatus KEYERR_ROM_PAGE_NOT_CLEAN = 30;
inline constexpr KeyStatus KEYERR_ROM_ERASE_FAILED = 31;
inline constexpr KeyStatus KEYERR_ROM_WRITE_FAILED = 32;
inline constexpr KeyStatus KEYERR_PROTECTION_LEVEL = 33;
inline constexpr KeyStatus KEYERR_BAD_EC_PARAMETERS = 34;
inline constexpr KeyStatus KEYERR_HARDWARE_FAILURE = 35;
inline constexpr KeyStatus KEYERR_BAD_KEY_USAGE = 36;
inline constexpr KeyStatus KEYERR_JOURNAL_EXHAUSTED = 37;
inline constexpr KeyStatus KEYERR_CORRUPTED_REQUEST = 40;
inline constexpr KeyStatus KEYERR_LOW_BATTERY = 43;
inline constexpr KeyStatus KEYERR_NOT_SUPPORTED = 99;
inline constexpr KeyStatus KEYERR_GENERAL_FAILURE = 100;
// Local only: the reader exists but holds no key, or cannot be connected now.
// Distinct from 1 (no such reader), which ends an enumeration.
inline constexpr KeyStatus KEYERR_READER_EMPTY = 101;
// Local only: the key's password is blocked by its failed tries; the key
// itself answers a blocked login as a wrong password (23).
inline constexpr KeyStatus KEYERR_PASSWORD_BLOCKED = 102;

// Texts in Windows-1251, owned by the library.
const char* StatusText(uint32_t code);
const char* JournalOperationName(uint32_t operation);
const char* JournalDetailName(uint32_t operation, uint32_t detail);
