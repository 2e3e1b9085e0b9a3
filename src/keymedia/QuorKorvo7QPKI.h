// Kept password and key-container work shared by both device classes: the
// wrapped form of data records too large for the key, and the container
// synthesised for the keys held on the key. Containers are made and read
// through the PKI formats interface the library holds.
#ifndef QVK_KEYMEDIA_QUORKORVO7QPKI_H
#define QVK_KEYMEDIA_QUORKORVO7QPKI_H

#include <cstddef>
#include <cstdint>

class ICSPHardware;

constexpr std::size_t KM_PASSWORD_BUFFER = 65;
// Size of the caller's buffer that ReadRecord may fill (what a size query reports).
constexpr std::uint32_t KM_RECORD_BUFFER = 4096;
// Marks a stored data record as wrapped.
extern const char KM_WRAPPED_RECORD_OID[];
// Protects every container the library synthesises.
extern const char KM_CONTAINER_PASSWORD[];

class QuorKorvo7QPKI {
public:
    QuorKorvo7QPKI() { ClearPassword(password_); }
    ~QuorKorvo7QPKI() { WipePassword(password_); }
    QuorKorvo7QPKI(const QuorKorvo7QPKI&) = delete;
    QuorKorvo7QPKI& operator=(const QuorKorvo7QPKI&) = delete;

    // Password buffers are KM_PASSWORD_BUFFER bytes.
    static void ClearPassword(char* buffer);
    static void WipePassword(char* buffer);
    // Zeroes the buffer, then copies a non-empty text of at most 64
    // characters; 1 when it copied.
    static int SetPassword(char* buffer, const char* text);

    // The container operations below use the kept password (password_).
    // Results: 1 success, 0 failure (also when the library holds no PKI
    // formats interface).
    int IsWrappedRecord(const std::uint8_t* data, std::uint32_t length);
    // The result block is allocated by the PKI formats library; hand it back
    // with ReleaseRecord.
    int WrapRecord(const std::uint8_t* data, std::uint32_t length, std::uint8_t** out, std::uint32_t* outLength);
    int UnwrapRecord(const std::uint8_t* data, std::uint32_t length, std::uint8_t** out, std::uint32_t* outLength);
    static void ReleaseRecord(std::uint8_t* data, std::uint32_t length);

    // Reading a stored wrapped record into the caller's buffer of
    // KM_RECORD_BUFFER bytes: unwraps, copies and sets *length. A KM_* code:
    // 0, or 5 when unwrapping fails or the result exceeds the buffer.
    int UnwrapRecordInto(const std::uint8_t* stored, std::uint32_t storedLength, void* data, unsigned* length);

    // The container standing for the keys on the key (absent records 5 and 6).
    // `hardware` is the device object's hardware CSP object (null answers 4).
    // *length receives the encoded size; with `data` given the bytes are
    // copied there. A KM_* code: 0, 4, 5 (also when the container would exceed
    // KM_RECORD_BUFFER), 0xFFFF on an exception.
    int BuildKeyContainerRecord(ICSPHardware* hardware, unsigned type, void* data, unsigned* length);

    // Opens a container item's key with the kept password, falling back to
    // the container password (which then becomes the kept password). `item`
    // and `*key` are PKI objects; 1 on success.
    int OpenContainer(char* password, void* item, void** key);

protected:
    char password_[KM_PASSWORD_BUFFER];
};

#endif
