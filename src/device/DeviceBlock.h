// The wire block of the key's requests and answers: commands, protection
// modes and the two block forms.
#pragma once

#include <cstdint>

// Wire block.
enum KeyCommand : uint8_t {
    KEYCMD_LOGIN = 1,
    KEYCMD_GET_CLOCK = 2,
    KEYCMD_SET_CLOCK = 3,
    KEYCMD_READ_JOURNAL = 4,
    KEYCMD_GET_STATE = 5,
    KEYCMD_READ_AUX = 6,
    KEYCMD_WRITE_AUX = 7,
    KEYCMD_GET_RANDOM = 10,
    KEYCMD_READ_MEMORY = 11,
    KEYCMD_FORMAT = 12,
    KEYCMD_GET_DEVICE_INFO = 13,
    KEYCMD_READ_SIGN_PUBLIC_KEY = 14,
    KEYCMD_READ_SIGN_KEY_PARAMS = 15,
    KEYCMD_READ_AGREE_PUBLIC_KEY = 16,
    KEYCMD_READ_AGREE_KEY_PARAMS = 17,
    KEYCMD_LOGOUT = 20,
    KEYCMD_ERASE_PAGE = 32,
    KEYCMD_GENERATE_SECRET = 33,
    KEYCMD_GET_MAC = 34,
    KEYCMD_ERASE_SECRET = 35,
    KEYCMD_GENERATE_SIGN_KEY = 36,
    KEYCMD_GENERATE_AGREE_KEY = 37,
    KEYCMD_AGREE_KEY = 38,
    KEYCMD_DESTROY_SIGN_KEY = 40,
    KEYCMD_DESTROY_AGREE_KEY = 41,
    KEYCMD_SIGN_HASH = 44,
    KEYCMD_CIPHER_BLOCKS_PROTECTED = 50,
    KEYCMD_READ_SECRET = 54,
    KEYCMD_EXPORT_SIGN_PRIVATE_KEY = 55,
    KEYCMD_CHANGE_PASSWORD = 60,
    KEYCMD_SET_SBOX = 62,
    KEYCMD_LOAD_KEY_CONTEXT = 63,
    KEYCMD_SET_IV = 65,
    KEYCMD_CIPHER_BLOCKS = 66,
    KEYCMD_STORE_SECRET = 67,
    KEYCMD_WRITE_SIGN_KEY = 68,
    KEYCMD_WRITE_AGREE_KEY = 69,
    KEYCMD_WRITE_MEMORY = 70,
    KEYCMD_CHANGE_PASSWORD_NEW = 101,
    KEYCMD_FORMAT_NEW = 111,
    KEYCMD_LOGIN_NEW = 131,
    KEYCMD_GET_VALUE_NEW = 132,
    KEYCMD_AGREE_KEY_NEW = 133,
    KEYCMD_WRITE_TABLE_NEW = 134,
    KEYCMD_CIPHER_BLOCKS_NEW = 135,
    KEYCMD_CIPHER_BLOCKS_PROTECTED_NEW = 136,
    KEYCMD_GET_MAC_NEW = 137,
    KEYCMD_ERASE_SECRET_NEW = 138,
    KEYCMD_STORE_SECRET_NEW = 139,
    KEYCMD_READ_SECRET_NEW = 140,
    KEYCMD_WRAP_KEY = 142,
    KEYCMD_UNWRAP_KEY = 143
};

enum ProtectionMode : uint8_t { KEYPROT_NONE = 0, KEYPROT_MAC = 1, KEYPROT_MAC_ENCRYPT = 2 };

constexpr uint32_t DEVICE_BLOCK_SIZE_OLD = 64;  // GOST 28147-89 form, 56 data bytes, 4-byte MAC
constexpr uint32_t DEVICE_BLOCK_SIZE_NEW = 76;  // DSTU 7624 form, 64 data bytes, 8-byte MAC
constexpr uint8_t DEVICE_NEW_FORM_VERSION = 18;

// One request or response. The old form uses bytes 0..63 (its MAC sits in
// bytes 60..63, inside `data`); the new form all 76.
struct DeviceBlock {
    uint8_t direction;   // 1 request, 2 response
    uint8_t command;     // KeyCommand
    uint8_t protection;  // ProtectionMode
    uint8_t parameter;   // request parameter; the KeyStatus in a response
    uint8_t data[64];
    uint8_t mac[8];  // new form only

    uint8_t* bytes() { return &direction; }
    const uint8_t* bytes() const { return &direction; }
    uint8_t status() const { return parameter; }
};
static_assert(sizeof(DeviceBlock) == 76);
