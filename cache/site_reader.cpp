// The site file reader; see site_reader.h. Records are walked from
// 16 + siteBlockLength along their recordLength links. Each record's window
// is the bytes from its start to at most 1024 further, exactly as one read
// at that position would give them; it is taken from a block read ahead in
// file order, and read on its own when the record lies behind the block
// (a link pointing backwards) or when records lie too far apart for a block
// to hold more than one.
#include "cache/site_reader.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "platform/stream.h"

namespace {

// The last start of a record whose every offset (up to 1023 past it) is
// still a signed 32-bit value.
const long long LastRecordStart = 0x7FFFFFFFLL - RECORD_WINDOW_SIZE;
// How far before a record's data end, when its link agrees, a resume looks
// for the next record.
const long long SLIPPED_BYTES_LOOKED_AT = 64;

LONG ClampToLong(long long value)
{
    if (value > 0x7FFFFFFFLL)
        return 0x7FFFFFFF;
    if (value < -0x7FFFFFFFLL - 1)
        return -0x7FFFFFFF - 1;
    return (LONG)value;
}

// Refills the block so that it starts at `position`: the bytes it already
// holds from there on are kept, the rest is read in file order after them.
void FillBlockFrom(struct SiteReader *reader, LONG position)
{
    long long from = (long long)position - reader->blockStart;
    size_t keep = 0;
    if (from >= 0 && from < (long long)reader->blockBytes) {
        keep = reader->blockBytes - (size_t)from;
        memmove(reader->block, reader->block + from, keep);
    }
    size_t wanted = SITE_READ_BLOCK_SIZE - keep;
    LONG readAt = (LONG)(position + (long long)keep); // within 1023 bytes of a record start
    size_t got = ReadStreamAt(reader->file, readAt, reader->block + keep, wanted);
    reader->blockStart = position;
    reader->blockBytes = keep + got;
    reader->blockAtEnd = got < wanted;
}

// TRUE when the block holds the whole window at `position`: 1024 bytes, or
// every byte up to the file's end.
BOOL BlockHoldsWindow(const struct SiteReader *reader, LONG position)
{
    long long from = (long long)position - reader->blockStart;
    if (from < 0 || from > (long long)reader->blockBytes)
        return FALSE;
    return reader->blockBytes - (size_t)from >= RECORD_WINDOW_SIZE || reader->blockAtEnd;
}

// Up to `count` bytes of the file at `position` into `buffer`: from the
// block when it holds them all (or all the file holds), else read. How
// many there are.
size_t BytesAt(struct SiteReader *reader, LONG position, unsigned char *buffer, size_t count)
{
    long long from = (long long)position - reader->blockStart;
    if (reader->block != NULL && from >= 0 && from <= (long long)reader->blockBytes &&
        (reader->blockBytes - (size_t)from >= count || reader->blockAtEnd)) {
        size_t left = reader->blockBytes - (size_t)from;
        size_t got = left < count ? left : count;
        memcpy(buffer, reader->block + from, got);
        return got;
    }
    return ReadStreamAt(reader->file, position, buffer, count);
}

// TRUE when the file holds a byte at `position`.
BOOL FileHolds(struct SiteReader *reader, long long position)
{
    unsigned char byte;
    return position >= 0 && position <= 0x7FFFFFFFLL - 1 && BytesAt(reader, (LONG)position, &byte, 1) == 1;
}

// The window of the record at `position`; *bytes gets how many of its bytes
// the file holds.
const unsigned char *WindowAt(struct SiteReader *reader, LONG position, int *bytes)
{
    if (reader->block != NULL && position >= reader->blockStart) {
        // Records further apart than a quarter block are read one by one:
        // a block would be read mostly for bodies nobody asked for.
        if (!BlockHoldsWindow(reader, position) && reader->lastStep <= SITE_READ_BLOCK_SIZE / 4)
            FillBlockFrom(reader, position);
        if (BlockHoldsWindow(reader, position)) {
            size_t from = (size_t)(position - reader->blockStart);
            size_t left = reader->blockBytes - from;
            *bytes = left < RECORD_WINDOW_SIZE ? (int)left : RECORD_WINDOW_SIZE;
            return reader->block + from;
        }
    }
    *bytes = (int)ReadStreamAt(reader->file, position, reader->window, RECORD_WINDOW_SIZE);
    return reader->window;
}

// The header's end in the window: the separator searched from `start`,
// within the bytes read, before the window's last byte (the terminator
// place of a 1024-byte window) and before any zero byte. Its index, or -1.
int FindHeaderEnd(const unsigned char *window, int start, int bytesRead)
{
    int limit = bytesRead < RECORD_WINDOW_SIZE - 1 ? bytesRead : RECORD_WINDOW_SIZE - 1;
    if (start < 0 || start >= limit)
        return -1;
    // The separator holds no zero byte, so it must end before the first one.
    const unsigned char *zero =
        (const unsigned char *)memchr(window + start, 0, (size_t)(limit - start));
    size_t count = (size_t)((zero != NULL ? zero : window + limit) - (window + start));
    size_t found = FindHeaderSeparator(window + start, count);
    return found < count ? start + (int)found : -1;
}

// The end of a header that fills the window, looked for in the file from
// the header's start: within `limit` bytes of it and before any zero byte,
// as in the window. Its distance from `headerOffset`, or -1. Only such a
// header is searched, and only within its own record, so no byte of the
// file is read twice this way however the records are laid out.
long long FindLongHeaderEnd(struct SiteReader *reader, LONG headerOffset, long long limit)
{
    unsigned char chunk[4096];
    long long searched = 0;
    while (limit - searched >= HEADER_SEPARATOR_LENGTH) {
        long long left = limit - searched;
        size_t wanted = left < (long long)sizeof chunk ? (size_t)left : sizeof chunk;
        size_t got = ReadStreamAt(reader->file, (LONG)(headerOffset + searched), chunk, wanted);
        const unsigned char *zero = (const unsigned char *)memchr(chunk, 0, got);
        size_t count = zero != NULL ? (size_t)(zero - chunk) : got;
        size_t found = FindHeaderSeparator(chunk, count);
        if (found < count)
            return searched + (long long)found;
        if (zero != NULL || got < wanted || got < HEADER_SEPARATOR_LENGTH)
            return -1;
        // The last bytes may begin a separator that the next chunk ends.
        searched += (long long)(got - (HEADER_SEPARATOR_LENGTH - 1));
    }
    return -1;
}

// TRUE when the header at `h` runs to the end of a full window: no separator
// and no zero byte up to the window's last byte.
BOOL HeaderFillsWindow(const unsigned char *window, int h, int bytes)
{
    return bytes == RECORD_WINDOW_SIZE && h <= RECORD_WINDOW_SIZE - 1 &&
           memchr(window + h, 0, (size_t)(RECORD_WINDOW_SIZE - 1 - h)) == NULL;
}

BOOL RecordStartsAt(struct SiteReader *reader, long long position);

// The URL and the header's and body's extents of a record whose fixed
// fields all lie within the `bytes` read at `window`.
void ReadExtents(struct SiteReader *reader, struct SiteRecordEntry *entry,
                 const unsigned char *window, int bytes)
{
    LONG position = entry->position;
    int urlLength = (int)entry->urlLength;
    int h = RECORD_HEADER_AFTER_URL + urlLength;
    memcpy(reader->url, window + RECORD_URL_OFFSET, (size_t)urlLength);
    reader->url[urlLength] = 0;
    entry->url = reader->url;
    entry->dataLength = DecodeS32(window + RECORD_DATA_LENGTH_AFTER_URL + urlLength);
    long long bodyLength = (long long)entry->dataLength - RECORD_DATA_OVERHEAD;
    entry->headerOffset = position + h;
    entry->bodyOffset = position + h;
    entry->headerLength = -1;
    entry->redirect = IsRedirectStatusLine(window + h, (size_t)(bytes - h));
    long long s = FindHeaderEnd(window, h, bytes);
    if (s < 0 && HeaderFillsWindow(window, h, bytes)) {
        // A long header (long cookies, or a long URL before it) ends past
        // the window; without its end the copy would begin with the header.
        // Header, separator and body: dataLength does not count the
        // separator. They lie within the record, where its link is whole.
        long long limit = bodyLength + HEADER_SEPARATOR_LENGTH;
        if (entry->recordLength > 0 && limit > (long long)entry->recordLength - h)
            limit = (long long)entry->recordLength - h;
        BOOL capped = limit > HEADER_SEARCH_LIMIT;
        if (capped)
            limit = HEADER_SEARCH_LIMIT;
        if (limit > 0x7FFFFFFFLL - entry->headerOffset)
            limit = 0x7FFFFFFFLL - entry->headerOffset; // offsets stay signed 32-bit
        long long end = FindLongHeaderEnd(reader, entry->headerOffset, limit);
        s = end < 0 ? -1 : h + end;
        // Its end may lie past the search: where the body starts is not
        // known, and the header must not be copied out as the body.
        if (s < 0 && capped)
            bodyLength = -1;
    }
    // Data that runs past the record's own link, where a record does start
    // while none starts at the data's end: a changed dataLength, which would
    // take the next record into this body. The body ends at the link.
    long long dataEnd = h + bodyLength + HEADER_SEPARATOR_LENGTH;
    if (s >= 0 && entry->recordLength > 0 && dataEnd > (long long)entry->recordLength &&
        RecordStartsAt(reader, (long long)position + entry->recordLength) &&
        !RecordStartsAt(reader, (long long)position + dataEnd))
        bodyLength = (long long)entry->recordLength - h - HEADER_SEPARATOR_LENGTH;
    if (s >= 0) {
        bodyLength -= s - h;
        entry->bodyOffset = ClampToLong(position + s + HEADER_SEPARATOR_LENGTH);
        entry->headerLength = (LONG)(s - h);
    }
    entry->bodyLength = ClampToLong(bodyLength);
    if (bodyLength < 0)
        entry->status = SITE_RECORD_UNREADABLE;
    else if (bytes < RECORD_WINDOW_SIZE && entry->bodyOffset + bodyLength > position + bytes)
        entry->status = SITE_RECORD_TRUNCATED; // the file ends inside the window, before the body
}

// The link to the next record, once `entry` has been read.
void FollowLink(struct SiteReader *reader, const struct SiteRecordEntry *entry)
{
    reader->linkBesideDataEnd = FALSE;
    // A length that does not move forward would revisit records.
    if (entry->recordLength <= 0) {
        reader->stop = SITE_STOP_BAD_LINK;
        return;
    }
    reader->next = (long long)entry->position + entry->recordLength;
    reader->lastStep = entry->recordLength;
    reader->linkBesideDataEnd = entry->status == SITE_RECORD_OK && reader->next != reader->lastEnd;
}

void ReadHeader(struct SiteReader *reader)
{
    unsigned char magic[4];
    unsigned char count[2];
    unsigned char blockLength[4];
    BOOL haveCount, haveBlock;
    if (reader->block != NULL) {
        FillBlockFrom(reader, 0);
        if (reader->blockBytes >= 4)
            memcpy(magic, reader->block + SITE_MAGIC_OFFSET, 4);
        reader->isSite = reader->blockBytes >= 4 && IsSiteMagic(magic);
        haveCount = reader->blockBytes >= SITE_RECORD_COUNT_OFFSET + 2;
        haveBlock = reader->blockBytes >= SITE_BLOCK_LENGTH_OFFSET + 4;
        if (haveCount)
            memcpy(count, reader->block + SITE_RECORD_COUNT_OFFSET, 2);
        if (haveBlock)
            memcpy(blockLength, reader->block + SITE_BLOCK_LENGTH_OFFSET, 4);
    } else {
        reader->isSite = ReadStreamAt(reader->file, SITE_MAGIC_OFFSET, magic, 4) == 4 && IsSiteMagic(magic);
        haveCount = ReadStreamAt(reader->file, SITE_RECORD_COUNT_OFFSET, count, 2) == 2;
        haveBlock = ReadStreamAt(reader->file, SITE_BLOCK_LENGTH_OFFSET, blockLength, 4) == 4;
    }
    reader->recordCount = haveCount ? (int)DecodeU16(count) - 2 : -2;
    reader->recordLimit = reader->recordCount;
    reader->haveRecords = haveBlock;
    if (haveBlock)
        reader->next = ClampToLong(SITE_BLOCK_LENGTH_OFFSET + (long long)DecodeS32(blockLength));
    // Before the first record, the site block stands for the latest one:
    // where its name ends, the first record starts when the block holds
    // nothing more, and a resume looks for records from there on.
    unsigned char nameLength[4];
    reader->lastPosition = SITE_BLOCK_LENGTH_OFFSET;
    reader->lastEnd = SITE_BLOCK_LENGTH_OFFSET + 1;
    BOOL haveName = BytesAt(reader, SITE_NAME_LENGTH_OFFSET, nameLength, 4) == 4;
    if (haveName && DecodeS32(nameLength) >= 0 && DecodeS32(nameLength) <= LastRecordStart - SITE_NAME_OFFSET)
        reader->lastEnd = SITE_NAME_OFFSET + (long long)DecodeS32(nameLength);
    // A count below 2 is none a site file has (2 is a site of no records):
    // damage. When a record starts where the first one should, the walk
    // goes on as far as a count can say.
    if (haveCount && DecodeU16(count) < 2 && reader->isSite && haveBlock && RecordStartsAt(reader, reader->next))
        reader->recordLimit = 0xFFFF - 2;
}

} // namespace

size_t FindHeaderSeparator(const unsigned char *bytes, size_t count)
{
    const unsigned char *p = bytes;
    const unsigned char *end = bytes + count;
    while (end - p >= HEADER_SEPARATOR_LENGTH) {
        size_t starts = (size_t)(end - p - (HEADER_SEPARATOR_LENGTH - 1));
        p = (const unsigned char *)memchr(p, '\r', starts);
        if (p == NULL)
            return count;
        if (memcmp(p, HEADER_SEPARATOR, HEADER_SEPARATOR_LENGTH) == 0)
            return (size_t)(p - bytes);
        p++;
    }
    return count;
}

BOOL IsRedirectStatusLine(const unsigned char *header, size_t count)
{
    if (count < 5 || memcmp(header, "HTTP/", 5) != 0)
        return FALSE;
    size_t i = 5;
    while (i < count && header[i] != ' ' && header[i] != '\r' && header[i] != '\n')
        i++;
    while (i < count && header[i] == ' ')
        i++;
    return i + 3 <= count && header[i] == '3' && isdigit(header[i + 1]) && isdigit(header[i + 2]) &&
           (i + 3 == count || !isdigit(header[i + 3]));
}

BOOL SiteReaderRedirectAt(struct SiteReader *reader, LONG headerOffset)
{
    unsigned char line[32];
    size_t got = ReadStreamAt(reader->file, headerOffset, line, sizeof line);
    return IsRedirectStatusLine(line, got);
}

BOOL SiteReaderOpen(struct SiteReader *reader, FILE *file)
{
    memset(reader, 0, sizeof *reader);
    reader->file = file;
    // Without the block every window is read on its own, as it would be anyway.
    reader->block = (unsigned char *)malloc(SITE_READ_BLOCK_SIZE);
    ReadHeader(reader);
    return TRUE;
}

BOOL SiteReaderOpenPath(struct SiteReader *reader, const char *path)
{
    FILE *file = OpenStream(path, "rb");
    if (file == NULL) {
        memset(reader, 0, sizeof *reader);
        reader->stop = SITE_STOP_END_OF_FILE;
        return FALSE;
    }
    SiteReaderOpen(reader, file);
    reader->ownsFile = TRUE;
    return TRUE;
}

namespace {

// The fewest bytes a record start is recognised by: its fields, a URL of
// one byte and "HTTP/"; and the most: a URL of the longest length read.
const size_t PlausibleRecordBytes = RECORD_HEADER_AFTER_URL + 1 + 5;
const size_t RecordStartSpan = RECORD_HEADER_AFTER_URL + RECORD_URL_MAX + 5;

// TRUE when a record plausibly starts at `bytes`, of which `count` are
// there (at most RecordStartSpan are looked at).
BOOL PlausibleRecordAt(const unsigned char *bytes, size_t count)
{
    if (count < PlausibleRecordBytes)
        return FALSE;
    LONG urlLength = DecodeS32(bytes + RECORD_URL_LENGTH_OFFSET);
    if (urlLength < 1 || urlLength > RECORD_URL_MAX)
        return FALSE;
    size_t header = RECORD_HEADER_AFTER_URL + (size_t)urlLength;
    return header + 5 <= count && memchr(bytes + RECORD_URL_OFFSET, 0, (size_t)urlLength) == NULL &&
           memcmp(bytes + header, "HTTP/", 5) == 0;
}

// TRUE when the `count` bytes at `window`, read at `position`, hold a URL
// length a record may have and, after the URL, no response header, and
// lengths no record has: no link onwards, data reaching past it, or a link
// past the file's end. No record starts there (a record stored without a
// status line still has its lengths).
BOOL NoRecordAt(struct SiteReader *reader, LONG position, const unsigned char *window, size_t count)
{
    LONG urlLength = DecodeS32(window + RECORD_URL_LENGTH_OFFSET);
    size_t header = RECORD_HEADER_AFTER_URL + (size_t)urlLength;
    if (urlLength < 0 || urlLength > RECORD_URL_MAX || header + 5 > count ||
        memcmp(window + header, "HTTP/", 5) == 0)
        return FALSE;
    long long recordLength = DecodeS32(window + RECORD_LENGTH_OFFSET);
    long long dataLength = DecodeS32(window + RECORD_DATA_LENGTH_AFTER_URL + urlLength);
    long long dataEnd = (long long)header - RECORD_DATA_OVERHEAD + dataLength + HEADER_SEPARATOR_LENGTH;
    if (urlLength == 0 || recordLength <= 0 || dataLength < RECORD_DATA_OVERHEAD || recordLength < dataEnd)
        return TRUE;
    // Data the file's end cuts short is a record's, as damaged as the file;
    // a link past the end after data that fits is none.
    return FileHolds(reader, position + dataEnd - 1) && !FileHolds(reader, position + recordLength - 1);
}

// TRUE when the record at `position`, whose URL length `urlLength` is
// negative or past the window, has no response header after its URL: it
// is no record, only bytes damage sent the chain to.
BOOL NoLongRecordAt(struct SiteReader *reader, LONG position, LONG urlLength)
{
    unsigned char start[5];
    long long header = (long long)position + RECORD_HEADER_AFTER_URL + urlLength;
    return urlLength < 0 || header > 0x7FFFFFFFLL - 5 ||
           BytesAt(reader, (LONG)header, start, 5) != 5 || memcmp(start, "HTTP/", 5) != 0;
}

// TRUE when the fixed fields of a record at `position` (up to its URL) are
// all zero bytes.
BOOL ZerosAt(struct SiteReader *reader, long long position)
{
    unsigned char fields[RECORD_URL_OFFSET];
    if (position < 0 || position > LastRecordStart ||
        BytesAt(reader, (LONG)position, fields, sizeof fields) != sizeof fields)
        return FALSE;
    for (size_t i = 0; i < sizeof fields; i++) {
        if (fields[i] != 0)
            return FALSE;
    }
    return TRUE;
}

// TRUE when a record plausibly starts at `position` of the file.
BOOL RecordStartsAt(struct SiteReader *reader, long long position)
{
    unsigned char window[RecordStartSpan];
    if (position < 0 || position > LastRecordStart)
        return FALSE;
    size_t got = BytesAt(reader, (LONG)position, window, sizeof window);
    return PlausibleRecordAt(window, got);
}

// Goes on at the first place from `at` where a record plausibly starts;
// FALSE when there is none.
BOOL SearchFrom(struct SiteReader *reader, long long at)
{
    while (at <= LastRecordStart) {
        // Looked at in the block where it holds a window from `at` (or the
        // file's end): many breaks close together cost no reading again.
        long long from = at - reader->blockStart;
        if (from < 0 || from > (long long)reader->blockBytes ||
            (!reader->blockAtEnd && reader->blockBytes - (size_t)from < RecordStartSpan)) {
            FillBlockFrom(reader, (LONG)at);
            from = 0;
        }
        const unsigned char *bytes = reader->block + from;
        size_t count = reader->blockBytes - (size_t)from;
        // Every place is looked at with a whole window behind it, but for
        // the last ones of the file.
        size_t places = reader->blockAtEnd ? count
                        : count >= RecordStartSpan ? count - RecordStartSpan + 1
                                                   : 0;
        for (size_t i = 0; i < places && i + PlausibleRecordBytes <= count; i++) {
            size_t left = count - i;
            if (at + (long long)i <= LastRecordStart &&
                PlausibleRecordAt(bytes + i, left < RecordStartSpan ? left : RecordStartSpan)) {
                reader->next = at + (long long)i;
                reader->stop = SITE_STOP_NONE;
                reader->linkBesideDataEnd = FALSE;
                return TRUE;
            }
        }
        if (reader->blockAtEnd || places == 0)
            return FALSE;
        at += (long long)places;
    }
    return FALSE;
}

// `entry`, just read, is the latest record: a resume goes on after it.
void NoteLatest(struct SiteReader *reader, const struct SiteRecordEntry *entry)
{
    reader->lastPosition = entry->position;
    reader->lastEnd = (long long)entry->position + 1;
    if (entry->status == SITE_RECORD_OK)
        reader->lastEnd = (long long)entry->headerOffset + entry->dataLength - RECORD_DATA_OVERHEAD +
                          HEADER_SEPARATOR_LENGTH;
    reader->lengthsAgree = entry->status == SITE_RECORD_OK && entry->recordLength > 0 &&
                           (long long)entry->position + entry->recordLength == reader->lastEnd;
}

} // namespace

BOOL SiteReaderNext(struct SiteReader *reader, struct SiteRecordEntry *entry)
{
    memset(entry, 0, sizeof *entry);
    if (reader->stop != SITE_STOP_NONE)
        return FALSE;
    if (!reader->haveRecords) {
        reader->stop = SITE_STOP_END_OF_FILE;
        return FALSE;
    }
    if (reader->returned >= reader->recordLimit) {
        reader->stop = SITE_STOP_COUNT;
        return FALSE;
    }
    if (reader->next < 0 || reader->next > LastRecordStart) {
        reader->stop = SITE_STOP_BAD_LINK;
        return FALSE;
    }
    entry->position = (LONG)reader->next;
    int bytes = 0;
    const unsigned char *window = WindowAt(reader, entry->position, &bytes);
    if (bytes == 0) {
        reader->stop = SITE_STOP_END_OF_FILE;
        return FALSE;
    }
    // Where damage sent the chain, bytes that are no record: a URL length
    // a record may have but no response header after the URL (zeros, or a
    // body), or, for a link that lands beside the latest record's data end,
    // anything but a record while one does start at that end (a changed
    // bit sends a link into a later body). The walk ends there as at any
    // broken link, for SiteReaderResume to go on; the bytes take no place
    // among the records the file says it holds.
    if ((bytes >= RECORD_URL_OFFSET && NoRecordAt(reader, entry->position, window, (size_t)bytes)) ||
        (reader->linkBesideDataEnd && !RecordStartsAt(reader, entry->position) &&
         RecordStartsAt(reader, reader->lastEnd))) {
        reader->stop = SITE_STOP_BAD_LINK;
        return FALSE;
    }
    entry->windowBytes = bytes;
    // An over-long URL length is shown and passed over as ever; one with no
    // header after it is no record, and takes none of the places of the
    // records the file holds (while as many are left for such).
    LONG urlLength = bytes >= RECORD_URL_OFFSET ? DecodeS32(window + RECORD_URL_LENGTH_OFFSET) : 0;
    BOOL passed = (urlLength < 0 || urlLength > RECORD_URL_MAX) && reader->passedOver < reader->recordLimit &&
                  NoLongRecordAt(reader, entry->position, urlLength);
    if (passed)
        reader->passedOver++;
    else
        reader->returned++;
    if (bytes < RECORD_URL_OFFSET) {
        entry->status = SITE_RECORD_TRUNCATED; // the file ends inside the fixed fields
        reader->stop = SITE_STOP_END_OF_FILE;
        NoteLatest(reader, entry);
        return TRUE;
    }
    entry->recordLength = DecodeS32(window + RECORD_LENGTH_OFFSET);
    entry->urlLength = DecodeS32(window + RECORD_URL_LENGTH_OFFSET);
    if (entry->urlLength < 0 || entry->urlLength > RECORD_URL_MAX) {
        entry->status = SITE_RECORD_OVERLONG;
        // One passed over as no record leaves the latest record the one
        // before, and a resume looks for records from its start on (a body
        // whose bytes were cut short sends its link past the next record).
        if (!passed)
            NoteLatest(reader, entry);
    } else if (bytes < RECORD_HEADER_AFTER_URL + entry->urlLength) {
        entry->status = SITE_RECORD_TRUNCATED; // the file ends inside the URL or its fields
        reader->stop = SITE_STOP_END_OF_FILE;
        NoteLatest(reader, entry);
        return TRUE;
    } else {
        ReadExtents(reader, entry, window, bytes);
        NoteLatest(reader, entry);
    }
    FollowLink(reader, entry);
    return TRUE;
}


BOOL SiteReaderResume(struct SiteReader *reader)
{
    if ((reader->stop != SITE_STOP_BAD_LINK && reader->stop != SITE_STOP_END_OF_FILE) ||
        (reader->returned == 0 && !reader->isSite) || reader->returned >= reader->recordLimit ||
        reader->block == NULL)
        return FALSE;
    // Where the latest record's data ends, a record that starts there or the
    // file's end bear its lengths out: a record whose link alone broke (its
    // body is no place to look in), or a last record of a file holding
    // fewer records than it says. Else the lengths are not trusted, and
    // every place after the record's start is looked at.
    long long at = (long long)reader->lastPosition + 1;
    long long end = reader->lastEnd;
    if (end > at && end <= LastRecordStart) {
        if (!FileHolds(reader, end) && FileHolds(reader, end - 1))
            return FALSE;
        if (RecordStartsAt(reader, end)) {
            reader->next = end;
            reader->stop = SITE_STOP_NONE;
            reader->linkBesideDataEnd = FALSE;
            return TRUE;
        }
    }
    // Zeros where a record whose lengths agree says the next one starts: a
    // zeroed block took that record's start, and the body before it, which
    // may hold anything, is looked in only when nothing follows.
    if (reader->lengthsAgree && end - SLIPPED_BYTES_LOOKED_AT > at && ZerosAt(reader, end) &&
        SearchFrom(reader, end - SLIPPED_BYTES_LOOKED_AT))
        return TRUE;
    return SearchFrom(reader, at);
}

BOOL SiteReaderName(struct SiteReader *reader, char *name, size_t size)
{
    if (size == 0)
        return FALSE;
    name[0] = 0;
    unsigned char field[4];
    if (ReadStreamAt(reader->file, SITE_NAME_LENGTH_OFFSET, field, 4) != 4)
        return FALSE;
    LONG length = DecodeS32(field);
    if (length <= 0)
        return FALSE;
    size_t wanted = (size_t)length < size - 1 ? (size_t)length : size - 1;
    size_t got = ReadStreamAt(reader->file, SITE_NAME_OFFSET, name, wanted);
    name[got] = 0;
    return got == wanted;
}

void SiteReaderClose(struct SiteReader *reader)
{
    free(reader->block);
    reader->block = NULL;
    if (reader->ownsFile)
        CloseStream(reader->file);
    reader->file = NULL;
    reader->ownsFile = FALSE;
}
