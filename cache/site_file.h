// The NetSonic site file: a header naming the site, then a chain of stored
// HTTP responses (records). All integers are little-endian and decoded byte
// by byte; offsets and lengths are signed 32-bit values and, since the file
// comes from disk, hostile until checked.
#ifndef QVORK_CACHE_SITE_FILE_H
#define QVORK_CACHE_SITE_FILE_H

#include "platform/win32.h"

#define SITE_MAGIC 289639u // bytes 67 6B 04 00

// Site header.
#define SITE_MAGIC_OFFSET 0
#define SITE_RECORD_COUNT_OFFSET 8  // 2 bytes, unsigned: stored responses + 2
#define SITE_BLOCK_LENGTH_OFFSET 16 // 4 bytes: the first record starts at 16 + this
#define SITE_NAME_LENGTH_OFFSET 32  // 4 bytes
#define SITE_NAME_OFFSET 36
#define SITE_HEADER_FIXED_SIZE 36   // bytes before the site name

// Stored response, from the record's start.
#define RECORD_LENGTH_OFFSET 0     // distance to the next record
#define RECORD_URL_LENGTH_OFFSET 16
#define RECORD_URL_OFFSET 20
#define RECORD_DATA_LENGTH_AFTER_URL 28 // dataLength at 28 + urlLength
#define RECORD_HEADER_AFTER_URL 38      // the header starts at 38 + urlLength
#define RECORD_DATA_OVERHEAD 10         // dataLength - 10 = header text + body

// The stored header ends with this separator; the body follows it.
#define HEADER_SEPARATOR "\r\n\r\n"
#define HEADER_SEPARATOR_LENGTH 4

static inline DWORD DecodeU32(const unsigned char *bytes)
{
    return (DWORD)bytes[0] | ((DWORD)bytes[1] << 8) | ((DWORD)bytes[2] << 16) |
           ((DWORD)bytes[3] << 24);
}

static inline LONG DecodeS32(const unsigned char *bytes)
{
    DWORD value = DecodeU32(bytes);
    return value <= 0x7FFFFFFFu ? (LONG)value : (LONG)(value - 0x80000000u) - 0x7FFFFFFF - 1;
}

// TRUE when the four bytes at `bytes` are the site magic, or it with one
// bit changed: a damaged site file, which no other file is likely to be.
static inline BOOL IsSiteMagic(const unsigned char *bytes)
{
    DWORD changed = DecodeU32(bytes) ^ SITE_MAGIC;
    return (changed & (changed - 1)) == 0;
}

static inline unsigned DecodeU16(const unsigned char *bytes)
{
    return (unsigned)bytes[0] | ((unsigned)bytes[1] << 8);
}

#endif
