// Codec of the management messages. One message is one request or its reply;
// every integer is big-endian on every host.
//
//   offset  size  field
//        0  u32   magic 0x41445231 ("ADR1")
//        4  u32   sequence number, chosen by the client and echoed in the reply
//        8  u32   func: operation number
//       12  u32   return code (0 in a request, the operation's result in the reply)
//       16  u32   cmd: operation argument
//       20  u8    index marker, 1
//       21  u8    indexNum: number of index values
//       22  3     not read
//       25  i32   vrfid: the index value
//       29  u8    value marker, 3
//       30  u8    value type: 0 octets, 2 u32; other types carry no value
//       31  u16   value length (4 for type 2)
//       33  ...   the value bytes
//
// On a connection every message, in both directions, follows a u32 with its
// length; a reply of length 0 carries no message bytes.
//
// The cursor knows the message length: every read or write that would reach
// past the end fails with -1 and leaves the cursor where it was, so a short or
// truncated message can never be read beyond its last byte.
#pragma once

#include <cstdint>

constexpr uint32_t ADR_MAGIC = 0x41445231;
constexpr uint8_t ADR_INDEX_MARK = 1;
constexpr uint8_t ADR_VALUE_MARK = 3;
constexpr uint8_t ADR_TYPE_OCTETS = 0;
constexpr uint8_t ADR_TYPE_U32 = 2;

constexpr uint32_t ADR_OFF_SEQ = 4;
constexpr uint32_t ADR_OFF_FUNC = 8;
constexpr uint32_t ADR_OFF_RETCODE = 12;
constexpr uint32_t ADR_OFF_CMD = 16;
constexpr uint32_t ADR_OFF_INDEX = 20;
constexpr uint32_t ADR_OFF_VRFID = 25;
constexpr uint32_t ADR_OFF_VALUE = 29;
constexpr uint32_t ADR_OFF_VALUE_DATA = 33;
// A request with a value of type 2 has 37 bytes.
constexpr uint32_t ADR_U32_MSG_LEN = ADR_OFF_VALUE_DATA + 4;

// Position and length are the cursor's two 32-bit words; the message pointer
// is what the cursor reads and writes.
struct AdrCursor {
    uint32_t pos;  // next byte, from the message start
    uint32_t len;  // message length: nothing at or past it is touched
    uint8_t* msg;
};

// All calls but adr_start and adr_count return 0 on success and -1 on failure.
void adr_start(AdrCursor* c, uint8_t* msg, uint32_t len);
// Magic, sequence number and func; fails on a wrong magic.
int adr_decodefunc(AdrCursor* c, uint32_t* func);
int adr_decoderetcode(AdrCursor* c, uint32_t* retcode);
int adr_decodecmd(AdrCursor* c, uint32_t* cmd);
int adr_getchar(AdrCursor* c, uint8_t* dst, uint32_t count);
int adr_getushort(AdrCursor* c, uint16_t* out);
int adr_getint32(AdrCursor* c, int32_t* out);
int adr_getuint32(AdrCursor* c, uint32_t* out);
int adr_offset(AdrCursor* c, uint32_t n);
uint32_t adr_count(const AdrCursor* c);
// Move to a position; the end of the message itself is a valid position.
int adr_pos(AdrCursor* c, uint32_t pos);
int adr_int32(AdrCursor* c, int32_t value);
// Write a whole value item at the position: marker 3, type, length, bytes.
// For type 2 `data` is a host 32-bit word and `len` must be 4; the word is
// written big-endian. Other types copy `len` bytes from `data`.
int adr_encodedata(AdrCursor* c, uint8_t type, uint16_t len, const void* data);

// A whole message as clients and tools see it.
struct AdrMessage {
    uint32_t seq;
    uint32_t func;
    uint32_t retcode;
    uint32_t cmd;
    uint8_t indexNum;
    int32_t vrfid;
    uint8_t valueType;
    uint16_t valueLen;
    // Encode: the value bytes as sent (type 2: its 4 big-endian bytes), null
    // sends zeros. Decode: points at the value bytes inside the message.
    const uint8_t* value;
};

// Build a message into buf; returns its length, or -1 when it does not fit.
int adr_encodemessage(uint8_t* buf, uint32_t cap, const AdrMessage* m);
// Decode a whole message (request or reply); -1 when it is malformed or short.
int adr_decodemessage(uint8_t* msg, uint32_t len, AdrMessage* m);
