// The site file reader: the record chain of one NetSonic site file, record
// by record (open, next record, close), knowing the format and nothing else:
// no boxes, no tree, no state outside its own record. The tree builder and
// the console host's archive export both walk records through it.
// Invariants: at most recordLimit records are returned (and as many
// over-long ones with no header after the URL: damage, no record); every record
// moves the position forward or is the last; no field is taken from outside
// the bytes read, and no offset or length handed out leaves signed 32 bits.
#ifndef QVORK_CACHE_SITE_READER_H
#define QVORK_CACHE_SITE_READER_H

#include <stddef.h>
#include <stdio.h>

#include "cache/site_file.h"

// Each record is read as a window of up to this many bytes from its start.
#define RECORD_WINDOW_SIZE 1024
// The longest URL whose fixed fields all lie inside one record window.
#define RECORD_URL_MAX (RECORD_WINDOW_SIZE - RECORD_HEADER_AFTER_URL - 1)
// A header that fills its window is looked for this far past its start
// (the header view shows no more of one).
#define HEADER_SEARCH_LIMIT 50000
// Records are taken from blocks of this size, read in file order.
#define SITE_READ_BLOCK_SIZE (64 * 1024)

// What is wrong with a record.
#define SITE_RECORD_OK 0
#define SITE_RECORD_OVERLONG 1   // urlLength negative or past the window: no URL, no extents
#define SITE_RECORD_TRUNCATED 2  // the file ends inside the record (url NULL when it ends
                                 // before the header starts); no further record follows
#define SITE_RECORD_UNREADABLE 3 // URL and offsets read, but the body length is negative

// Why the walk ended (SiteReader.stop).
#define SITE_STOP_NONE 0        // not yet ended
#define SITE_STOP_COUNT 1       // recordLimit records were returned
#define SITE_STOP_END_OF_FILE 2 // the next record would start at or past the file's end
#define SITE_STOP_BAD_LINK 3    // a recordLength of 0 or less, or a position past 2 GiB

struct SiteRecordEntry {
    LONG position;     // the record's start in the file
    LONG recordLength; // as stored: the distance to the next record
    LONG urlLength;    // as stored
    const char *url;   // the URL's urlLength bytes as stored (a zero byte among
                       // them included), terminated; NULL when not read.
                       // Owned by the reader, valid until the next call.
    LONG headerOffset; // the stored header's start (0 when url is NULL)
    LONG headerLength; // bytes before "\r\n\r\n"; -1 when none was found (in the window,
                       // or past it for a header filling the window)
    LONG bodyOffset;   // after the separator; headerOffset when none was found
    LONG bodyLength;   // dataLength - 10, less the header text when its end was found
    LONG dataLength;   // as stored: 10 + header text + body
    int windowBytes;   // bytes of the record's window that the file holds (at most 1024)
    int status;        // SITE_RECORD_*
    BOOL redirect;     // the stored status line, read in the window, is a 3xx
};

struct SiteReader {
    FILE *file;         // the site file
    BOOL ownsFile;      // opened by SiteReaderOpenPath: closed by SiteReaderClose
    BOOL isSite;        // the file begins with the site magic
    int recordCount;    // the header's recordCount - 2; -2 when the file cannot hold it
    int recordLimit;    // the records the walk returns at most: recordCount, or as many
                        // as a count can say when it is one no site file has (0 or 1)
    BOOL haveRecords;   // the header holds siteBlockLength: there is a first record
    long long next;     // the next record's start
    int returned;       // records handed out so far
    int passedOver;     // over-long ones among them with no header: not counted
    int stop;           // SITE_STOP_*
    LONG lastStep;      // the latest recordLength: how far apart records lie
    LONG lastPosition;  // the latest record's start (of one with a URL length
                        // read; before the first, the site block's length field)
    long long lastEnd;  // the end of its data (header, separator, body) when it
                        // reads, else its start + 1 (before the first record,
                        // the end of the site's name)
    BOOL linkBesideDataEnd; // it reads, and its link leads elsewhere than lastEnd
    BOOL lengthsAgree;      // the latest counted record reads, and its link leads to lastEnd
    unsigned char *block; // the read-ahead block (NULL: every window is its own read)
    LONG blockStart;    // file offset of block[0]
    size_t blockBytes;  // bytes of the block that hold file data
    BOOL blockAtEnd;    // the file ends at blockStart + blockBytes
    unsigned char window[RECORD_WINDOW_SIZE]; // a window read on its own
    char url[RECORD_URL_MAX + 1];             // the latest record's URL
};

// Starts reading the already open `file` (the caller keeps and closes it)
// and reads the site header. Always TRUE: without memory for the block each
// window is read on its own. Always pair with SiteReaderClose.
BOOL SiteReaderOpen(struct SiteReader *reader, FILE *file);
// Opens the site file at `path` and starts reading it; FALSE when it cannot
// be opened (the reader is then closed already).
BOOL SiteReaderOpenPath(struct SiteReader *reader, const char *path);
// The next record into *entry; FALSE when the walk has ended (reader->stop
// says why). A damaged record is returned with its status; after one whose
// status is SITE_RECORD_TRUNCATED and url NULL the walk ends. Where the
// chain leads to bytes that are no record (a URL length a record may have,
// and no "HTTP/" after the URL), or, from beside a record's data end, to
// anything but a record while one starts at that end, the link is broken
// (SITE_STOP_BAD_LINK) and those bytes are not counted as a record.
BOOL SiteReaderNext(struct SiteReader *reader, struct SiteRecordEntry *entry);
// After a walk that ended before its count at a broken link or past the
// file's end: goes on walking from the next place after the latest record
// (before the first record of a site file, after the site block) where a
// record plausibly starts (a URL length of 1 to RECORD_URL_MAX, that URL
// without a zero byte, then a header beginning "HTTP/"): right after its
// data when one starts there, else the first found after its start. FALSE
// when there is none (or its data ends the file), or the walk ended for
// another reason.
BOOL SiteReaderResume(struct SiteReader *reader);
// The site's name from the header, terminated, cut to fit `size`; FALSE
// when the file holds none (name empty then).
BOOL SiteReaderName(struct SiteReader *reader, char *name, size_t size);
// Releases the block, and closes the file when the reader opened it.
void SiteReaderClose(struct SiteReader *reader);

// Whether the stored header at `headerOffset` begins with a 3xx status line.
BOOL SiteReaderRedirectAt(struct SiteReader *reader, LONG headerOffset);

// Whether the `count` bytes at `header` begin with a status line "HTTP/x 3xx".
BOOL IsRedirectStatusLine(const unsigned char *header, size_t count);

// The stored header's end: the index of the first "\r\n\r\n" in bytes[0,
// count), or count when there is none. The one search for the separator.
size_t FindHeaderSeparator(const unsigned char *bytes, size_t count);

#endif
