// MacTypes.h - the basic scalar and record types shared by every toolbox header.
//
// The classic toolbox's names, with fixed-width integers so that a record has the
// same size everywhere. Pointers are native. Nothing here allocates or has state.
#pragma once

#include <cstddef>
#include <cstdint>

using UInt8 = std::uint8_t;
using SInt8 = std::int8_t;
using UInt16 = std::uint16_t;
using SInt16 = std::int16_t;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using UInt64 = std::uint64_t;
using SInt64 = std::int64_t;

using Boolean = unsigned char; // one byte, 0 = false
using OSErr = SInt16;
using OSStatus = SInt32;
using OSType = UInt32;
using FourCharCode = UInt32;
using ResType = FourCharCode;
using ScriptCode = SInt16;
using Size = long;
using ConstStr255Param = const unsigned char*;
using StringPtr = unsigned char*;
using ConstStringPtr = const unsigned char*;

using Ptr = char*;
using Handle = char**;

// Length-prefixed (Pascal) strings: byte 0 holds the length.
using Str255 = unsigned char[256];
using Str63 = unsigned char[64];
using Str31 = unsigned char[32];
using Str15 = unsigned char[16];
using StrFileName = Str63;

struct Point {
    SInt16 v;
    SInt16 h;
};

struct Rect {
    SInt16 top;
    SInt16 left;
    SInt16 bottom;
    SInt16 right;
};

struct RGBColor {
    UInt16 red;
    UInt16 green;
    UInt16 blue;
};

// Builds a four-character code from a literal such as "Pref": the first character ends
// up in the most significant byte, whatever the processor's byte order.
constexpr FourCharCode FOUR_CHAR_CODE(const char (&s)[5]) {
    return (FourCharCode(UInt8(s[0])) << 24) | (FourCharCode(UInt8(s[1])) << 16) |
           (FourCharCode(UInt8(s[2])) << 8) | FourCharCode(UInt8(s[3]));
}

enum : OSErr {
    noErr = 0,
    paramErr = -50,
    memFullErr = -108,
    nilHandleErr = -109,
    memWZErr = -111,
    fnfErr = -43,
    dirNFErr = -120,
    ioErr = -36,
    eofErr = -39,
    dskFulErr = -34,
    permErr = -54,
    wrPermErr = -61,
    opWrErr = -49,
    dupFNErr = -48,
    bdNamErr = -37,
    nsvErr = -35,
    tmfoErr = -42,
    fBsyErr = -47,
    resNotFound = -192,
    resFNotFound = -193,
    addResFailed = -194,
    rmvResFailed = -196,
    mapReadErr = -199,
    resAttrErr = -198,
    notAFileErr = -1302, // a directory where a file is wanted
};

enum : OSStatus {
    eventNotHandledErr = -9874,
    userCanceledErr = -128,
};
