/* kolvolib: the indexing engine of kolvo, as a flat C interface.
 * kolvocmd binds every entry below by name in "kolvolib.so" when it first calls it.
 *
 * Conventions of the interface:
 *  1. No entry ever throws or returns an error code. A failure calls the throw callback
 *     (or the warning callback) with a code and a detail text, and the entry then
 *     returns its "nothing" value: null, 0, or simply nothing. With no callback
 *     registered a failure is silent. The codes are listed in the program's message
 *     table; a detail may hold several fields separated by TAB.
 *  2. Handles are opaque. The index handle comes from kCreateNewIndex and is freed only
 *     by kidxClearIndex. Table handles (kidxGetWords, kidxGetFiles, kidxGetSkipWords,
 *     kidxGetLinks) and the file-record and word-data pointers taken from them belong
 *     to the index. They die with kidxEmptyIndex and kidxClearIndex; the skip-word
 *     table also with kidxIndexExclusions, the links table also with kidxNewFileLinks;
 *     record pointers also with any call that adds to their table. Keep numbers (word
 *     numbers, file numbers, offsets), not pointers, across such calls.
 *  3. Texts passed in are NUL-terminated and copied when kept. Texts returned as
 *     pointers into a table stay owned by the index; texts returned as fresh blocks are
 *     malloc'd by the library and freed by the receiver with kDeleteChar.
 *  4. kbool is one byte, 0 false and anything else true. kulong is an unsigned 32-bit
 *     number. Times are doubles counting seconds since 1904-01-01 00:00; the engine
 *     stores them as whole Unix seconds, truncated toward zero.
 *  5. One thread: the library starts none, takes no locks, and its callback slots are
 *     process-wide. Callbacks run inside the call that reports.
 */
#ifndef KOLVO_INCLUDE_KOLVOLIB_H
#define KOLVO_INCLUDE_KOLVOLIB_H

#include <stdint.h>

#if defined(__GNUC__)
#define KOLVO_EXPORT __attribute__((visibility("default")))
#else
#define KOLVO_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char kbool;
typedef uint32_t kulong;

/* Handles: each is the engine's own object, opaque to callers. */
typedef struct CKolvoIndex CKolvoIndex;
typedef struct CTextStorage CTextStorage;
typedef struct CFileStorage CFileStorage;
typedef struct CFileLinks CFileLinks;
typedef struct CFileContents CFileContents;
/* The 16-byte information record in front of a file table entry's name. */
typedef struct KolvoFileInfo KolvoFileInfo;

/* ---- Callbacks ------------------------------------------------------------------ */

/* Both strings are valid only during the call. */
typedef void (*KolvoErrorCallback)(const char* code, const char* detail);
/* Answers non-zero to go on, zero to halt. origin is 1 for the library's own reports
 * and 0 for reports relayed through kSetStatus. */
typedef kbool (*KolvoStatusCallback)(const char* code, const char* detail, int origin);

/* Fill a process-wide slot; null empties it. */
KOLVO_EXPORT void kSetThrowCallBack(KolvoErrorCallback callback);
KOLVO_EXPORT void kSetWarningCallBack(KolvoErrorCallback callback);
KOLVO_EXPORT void kSetStatusCallBack(KolvoStatusCallback callback);
/* Relays a report to the status callback with origin 0; 1 when no callback is set. */
KOLVO_EXPORT kbool kSetStatus(const char* code, const char* detail);

/* ---- Index life cycle -------------------------------------------------------- */

/* A new index (isNew non-zero) creates its tables in indexPath, which ends with '/';
 * otherwise the stored index there is opened read-only. Null when that fails. */
KOLVO_EXPORT CKolvoIndex* kCreateNewIndex(kbool isNew, const char* indexPath);
/* Releases the index and everything taken from it; null is ignored. */
KOLVO_EXPORT void kidxClearIndex(CKolvoIndex* index);
/* New, empty file and word tables and no links table until kidxNewFileLinks; the
 * skip words stay. Table handles taken before are dead. */
KOLVO_EXPORT void kidxEmptyIndex(CKolvoIndex* index);
/* Maps the tables read-only and writes "hash" into path (ending with '/'). */
KOLVO_EXPORT void kidxStoreStorage(CKolvoIndex* index, const char* path);

/* ---- Settings (each setter stores, each getter reads) ------------------------- */

KOLVO_EXPORT void kidxSetMinWordLength(CKolvoIndex* index, kulong length);
/* 0: no maximum. */
KOLVO_EXPORT void kidxSetMaxWordLength(CKolvoIndex* index, kulong length);
/* 0: no limit. */
KOLVO_EXPORT void kidxSetMaxPerFileRead(CKolvoIndex* index, kulong bytes);
/* 0 no reports; 1 walk, skip-file and link reports; 2 also one per chunk read.
 * Only the low byte is kept. */
KOLVO_EXPORT void kidxSetShowStatus(CKolvoIndex* index, int level);
KOLVO_EXPORT void kidxSetUseRanking(CKolvoIndex* index, kbool on);
/* Record files that no analyzer reads. */
KOLVO_EXPORT void kidxSetTrackAll(CKolvoIndex* index, kbool on);
KOLVO_EXPORT void kidxSetIsUpdate(CKolvoIndex* index, kbool on);
KOLVO_EXPORT void kidxSetSavePassword(CKolvoIndex* index, kbool on);
KOLVO_EXPORT void kidxSetNumberHandling(CKolvoIndex* index, int32_t handling);
KOLVO_EXPORT void kidxSetInternationalChar(CKolvoIndex* index, int32_t value);
/* Seconds since 1904-01-01; kept as whole Unix seconds, truncated toward zero. */
KOLVO_EXPORT void kidxSetTimeBase(CKolvoIndex* index, double time);
/* Both paths are copied. */
KOLVO_EXPORT void kidxSetTemporaryDirectory(CKolvoIndex* index, const char* path);
KOLVO_EXPORT void kidxSetSkipFilePath(CKolvoIndex* index, const char* path);

/* ---- Counters ----------------------------------------------------------------- */

KOLVO_EXPORT void kidxSetBytesRead(CKolvoIndex* index, double bytes);
KOLVO_EXPORT double kidxGetBytesRead(CKolvoIndex* index);
KOLVO_EXPORT void kidxSetDirectoriesRead(CKolvoIndex* index, kulong count);
KOLVO_EXPORT kulong kidxGetDirectoriesRead(CKolvoIndex* index);
KOLVO_EXPORT void kidxSetFilesIndexed(CKolvoIndex* index, kulong count);
KOLVO_EXPORT kulong kidxGetFilesIndexed(CKolvoIndex* index);
KOLVO_EXPORT void kidxSetContentsIndexed(CKolvoIndex* index, kulong count);
KOLVO_EXPORT kulong kidxGetContentsIndexed(CKolvoIndex* index);
KOLVO_EXPORT void kidxSetWordsIndexed(CKolvoIndex* index, kulong count);
KOLVO_EXPORT kulong kidxGetWordsIndexed(CKolvoIndex* index);

/* ---- Tables and character masks ---------------------------------------------- */

/* The index's tables (see convention 2 for how long each handle lives); null where
 * the index has none, as the links table between kidxEmptyIndex and kidxNewFileLinks. */
KOLVO_EXPORT CTextStorage* kidxGetWords(CKolvoIndex* index);
KOLVO_EXPORT CFileStorage* kidxGetFiles(CKolvoIndex* index);
KOLVO_EXPORT CTextStorage* kidxGetSkipWords(CKolvoIndex* index);
KOLVO_EXPORT CFileLinks* kidxGetLinks(CKolvoIndex* index);
/* One entry (c from 0 to 255) of a mask: characters of words, characters that continue
 * but never start a word, characters shown in display text, and non-letters written to
 * display text. */
KOLVO_EXPORT void kidxSetValidCharMask(CKolvoIndex* index, int c, kbool on);
KOLVO_EXPORT void kidxSetValidTrailingMask(CKolvoIndex* index, int c, kbool on);
KOLVO_EXPORT void kidxSetValidViewableMask(CKolvoIndex* index, int c, kbool on);
KOLVO_EXPORT void kidxSetNonAlphaCharMask(CKolvoIndex* index, int c, kbool on);

/* ---- Words and skip words ------------------------------------------------------ */

/* Records one occurrence of word (lower-cased, within the length limits) in a file. */
KOLVO_EXPORT void kidxIndexWord(CKolvoIndex* index, const char* word, kulong fileId);
/* Rebuilds the skip-word table from the skip file (kidxSetSkipFilePath, or
 * "skipfile.txt" in the kolvo directory). Call it after the masks are set. */
KOLVO_EXPORT void kidxIndexExclusions(CKolvoIndex* index);

/* ---- Walk, update and link compression --------------------------------------- */

/* Include patterns choose each file's analyzer by name (null or "" means "generic"):
 * the first pattern the full path matches decides. An unknown analyzer name warns
 * "AnalyzerNotFound"; the pattern stays, and files it takes are recorded unread.
 * Exclude patterns keep folders out of the walk and files from being read. */
KOLVO_EXPORT void kidxSetIncludeCount(CKolvoIndex* index, int count);
KOLVO_EXPORT void kidxSetIncludePattern(CKolvoIndex* index, int i, const char* pattern, const char* analyzerName);
KOLVO_EXPORT void kidxSetExcludeCount(CKolvoIndex* index, int count);
KOLVO_EXPORT void kidxSetExcludePattern(CKolvoIndex* index, int i, const char* pattern);
/* Walks path (no trailing '/', except the root) depth-first, whose own entry in the
 * file table is dirId. Symbolic links are neither recorded nor followed. */
KOLVO_EXPORT void kidxIndexDirectory(CKolvoIndex* index, const char* path, kulong dirId);
/* Brings an opened index up to date since its time base (kidxSetTimeBase): a folder
 * written after it has its new entries added; a file is read again when its time or
 * size is no longer the one recorded (a file put back with an older time has changed
 * too), or when written after the time base and not dated beyond the update's start (a
 * file dated in the future is read once). */
KOLVO_EXPORT void kidxPrune(CKolvoIndex* index);
/* Brings an opened index up to date for the count absolute paths named only, as
 * kidxPrune would for them, without visiting the rest of the index: a named file is read
 * again when changed, added when new and marked obsolete when gone (with what it held);
 * a named folder has its known entries checked and its new ones added, new subfolders
 * walked whole. A path whose folder is not in the index brings in the nearest folder
 * above it that is; a path with none is passed over. Null entries of paths are skipped.
 * Preconditions and sequel as for kidxPrune: kidxCompressLinks, then kidxStoreStorage. */
KOLVO_EXPORT void kidxUpdatePaths(CKolvoIndex* index, const char* const* paths, kulong count);
/* A new, empty links table and a temporary link table, before the walks of a build;
 * the links table handle taken before is dead. */
KOLVO_EXPORT void kidxNewFileLinks(CKolvoIndex* index);
/* Merges the links of the build or update into the links table; "temp" is removed. */
KOLVO_EXPORT void kidxCompressLinks(CKolvoIndex* index);
/* Walks every table of the index (word, skip-word and file chains, parents, link
 * blocks and their chains, the counts) and answers one line per damage found, each
 * ending with a line feed: "" for a sound index. The text is the caller's, freed with
 * kDeleteChar; null when the check could not run (the throw callback has been told). */
KOLVO_EXPORT char* kidxCheckIndex(CKolvoIndex* index);

/* ---- Analyzers and matching ---------------------------------------------------- */

/* Builds the index's analyzer registry: the built-in analyzers and those declared in
 * "externanalyzers.txt" of the kolvo directory (a file of 65535 bytes or more raises
 * "externalAnalyzersFileTooBig"; an entry whose command lacks %i or %o warns
 * "ExternalAnalyzerRefused" and is left out). Call it before the include patterns. */
KOLVO_EXPORT void kidxCreateAnalyzers(CKolvoIndex* index);
/* Whether a stored (lower-cased) word fits a search term; * and ? are wildcards unless
 * the index's masks make them word characters. 0 for a null argument. */
KOLVO_EXPORT kbool kidxDoesWordMatch(CKolvoIndex* index, const char* word, const char* pattern);
/* Whether a directory can lie at or below the directory part of a path pattern. */
KOLVO_EXPORT kbool kidxDirMatch(CKolvoIndex* index, const char* directory, const char* pattern);

/* ---- Word and skip-word tables ---------------------------------------------------- */

/* Word numbers are offsets into the table's file; 0 means none. A damaged table or an
 * unknown number gives 0 or null after telling the throw callback. */
KOLVO_EXPORT kulong ktsGetFirst(CTextStorage* table);
KOLVO_EXPORT kulong ktsGetNext(CTextStorage* table, kulong word);
/* Case-insensitive lookup; needs the table's buckets (a new or opened table). */
KOLVO_EXPORT kulong ktsLookup(CTextStorage* table, const char* text);
/* The word's text, owned by the table. */
KOLVO_EXPORT const char* ktsGetText(CTextStorage* table, kulong word);
/* The words whose text begins with prefix (compared byte for byte; the word table
 * keeps its words lower case), many in one call, each once. An index stored with its
 * words sorted gives those words first, in byte order of their texts, then the words
 * added since, in the order of ktsGetNext; any other table gives all in the order of
 * ktsGetNext. Start with cursor[0] = 0; each call looks at a bounded number of words,
 * writes up to capacity word numbers to words and leaves cursor[0] where the next call
 * goes on (a value to hand back unchanged), 0 once every word has been looked at. A
 * call may find none and still leave more to look at. Returns how many numbers it
 * wrote. An empty prefix matches every word. */
KOLVO_EXPORT kulong ktsGetPrefixed(CTextStorage* table, const char* prefix, kulong* cursor, kulong* words,
                                   kulong capacity);
/* The caller data in front of the word; for the word table the 16-byte word-data
 * block: currentFile (u32), currentCount (u16), 2 reserved bytes, chainHead (u32),
 * pendingLinks (u32), little-endian at unaligned offsets. Owned by the table; the
 * readers kwdCurrentFile, kwdCurrentCount and kwdChainHead below take its fields. */
KOLVO_EXPORT void* ktsGetData(CTextStorage* table, kulong word);

/* Fields of a word-data block, read byte by byte (no alignment, any byte order of the
 * reader); a null block reads as 0. */
static inline kulong kwdField(const void* data, int offset, int bytes) {
  const unsigned char* at = (const unsigned char*)data + offset;
  kulong value = 0;
  if (!data) return 0;
  while (bytes-- > 0) value = (value << 8) | at[bytes];
  return value;
}
/* The last file the word was met in (0: none yet). */
static inline kulong kwdCurrentFile(const void* data) { return kwdField(data, 0, 4); }
/* The word's occurrences in that file. */
static inline kulong kwdCurrentCount(const void* data) { return kwdField(data, 4, 2); }
/* The word's newest link block in the links table (0: none). */
static inline kulong kwdChainHead(const void* data) { return kwdField(data, 8, 4); }

/* ---- File table and file records ------------------------------------------------ */

/* Adds an entry (no check for an existing one); 0 when the addition failed. */
KOLVO_EXPORT kulong kfsAddFile(CFileStorage* table, const char* name);
/* Finds the entry of exactly this name (letter case included) under the parent file number; 0 when absent. */
KOLVO_EXPORT kulong kfsLookupFile(CFileStorage* table, const char* name, kulong parent);
KOLVO_EXPORT kulong kfsGetFirst(CFileStorage* table);
KOLVO_EXPORT kulong kfsGetNext(CFileStorage* table, kulong file);
/* The entry's information record; null for a number that is no entry. */
KOLVO_EXPORT KolvoFileInfo* kfsGetInfo(CFileStorage* table, kulong file);

/* What a listing shows of one entry, as the kfi readers below give it. */
typedef struct KolvoFileRecord {
  const char* name; /* owned by the table, as kfiGetFileName's; null for no entry */
  kulong parent;
  kulong size;
  double timeLastWritten; /* seconds since 1904-01-01 */
} KolvoFileRecord;
/* The records of count file numbers at once (records holds count of them): for each,
 * what kfsGetInfo and the kfi readers would answer one by one, and for a number that
 * is no entry a null name and zeros. Returns how many of the numbers were entries.
 * The names die as record pointers do. */
KOLVO_EXPORT kulong kfsGetRecords(CFileStorage* table, const kulong* files, kulong count, KolvoFileRecord* records);

/* Accessors of an information record; a null record reads as 0 and is not written.
 * A record keeps 32 bits of size and of Unix time: the library records a file of
 * 4 GiB or more as 4,294,967,295 bytes, and a time after 2038-01-19 03:14:07 UTC as
 * that second. */
KOLVO_EXPORT kulong kfiGetFileParentID(const KolvoFileInfo* info);
KOLVO_EXPORT void kfiSetFileParentID(KolvoFileInfo* info, kulong parent);
KOLVO_EXPORT kulong kfiGetFileSize(const KolvoFileInfo* info);
KOLVO_EXPORT void kfiSetFileSize(KolvoFileInfo* info, kulong size);
KOLVO_EXPORT kulong kfiGetFileAttributes(const KolvoFileInfo* info);
KOLVO_EXPORT void kfiSetFileAttributes(KolvoFileInfo* info, kulong attributes);
/* The entry's name, owned by the table; a first byte 0xFF marks an obsolete entry. */
KOLVO_EXPORT const char* kfiGetFileName(const KolvoFileInfo* info);
/* Seconds since 1904-01-01. */
KOLVO_EXPORT double kfiGetFileTimeLastWritten(const KolvoFileInfo* info);
KOLVO_EXPORT void kfiSetFileTimeLastWritten(KolvoFileInfo* info, double time);
/* Sets the first byte of a non-empty name to 0xFF; lookups no longer find it. */
KOLVO_EXPORT void kfiMarkFileObsolete(KolvoFileInfo* info);

/* ---- Link chains ---------------------------------------------------------------- */

/* cursor[0] is an offset into the links file, cursor[1] receives the rank (0 to 255;
 * 255 when the index keeps no ranks). Returns the file number of the record at the
 * cursor and advances it by one record; 0 at a block's terminator or past the end.
 * At a terminator the cursor then stands on the block's next-block word. */
KOLVO_EXPORT kulong kflGetFile(CFileLinks* links, kulong* cursor);
/* As kflGetFile called until it answers 0 or capacity times, in one call: the file
 * numbers to files and their ranks to ranks. cursor[0] moves as those calls would move
 * it, so a call that writes fewer than capacity has passed the block's terminator (or
 * the end) and stands on the next-block word. Returns how many it wrote. */
KOLVO_EXPORT kulong kflGetFiles(CFileLinks* links, kulong* cursor, kulong* files, kulong* ranks, kulong capacity);
/* The next-block word at offset: where the word's previous block begins, or 0. */
KOLVO_EXPORT kulong kflGetNextList(CFileLinks* links, kulong offset);

/* ---- File contents -------------------------------------------------------------- */

/* The display text of one indexed file, made once by the file's analyzer; a member of an
 * archive is extracted level by level to temporary files, which are gone again when this
 * returns. Null when the file cannot be shown (a directory, a missing or unreadable file,
 * an archive member that cannot be extracted); the throw callback has been told why.
 * Free the object with kfcDeleteContentsObject. */
KOLVO_EXPORT CFileContents* kidxGetFileContents(CKolvoIndex* index, kulong file, kulong maxBytes, int wrapWidth,
                                                kbool stripMarkup, int nearDistance);
/* Null is ignored. */
KOLVO_EXPORT void kfcDeleteContentsObject(CFileContents* contents);
/* The NUL-terminated text, owned by the object; "" when there is none. */
KOLVO_EXPORT const char* kfcContents(CFileContents* contents);
/* The file whose bytes were read (for an archive member, its temporary file). */
KOLVO_EXPORT const char* kfcFilePath(CFileContents* contents);
/* Length of the word starting at the byte offset; 0 when no word starts there or the
 * offset lies at or past the end. */
KOLVO_EXPORT kulong kfcTokenLength(CFileContents* contents, kulong offset);
/* Hit patterns are lower-cased terms with the wildcards * and ?; "+term" and "+( ... )"
 * are not hits; "term<n rest" makes term a hit only when rest has a hit within the next
 * n words (no n: the object's near distance; 0: no limit). Searches from the byte offset
 * and answers the first hit's offset plus 1, or 0 when there is none; the answer can be
 * passed back as the next offset. From inside a word the search goes on with the next
 * word; an offset at or past the end answers 0. */
KOLVO_EXPORT kulong kfcSearchBuffer(CFileContents* contents, kulong offset, const char* pattern);
/* 1 when the text holds a hit of the pattern. */
KOLVO_EXPORT kbool kfcContainsHit(CFileContents* contents, const char* pattern);
/* Reduces the text to the lines that hold hits whose length lies within the index's
 * word lengths (a maximum of 0 means none), each line once, in order. */
KOLVO_EXPORT void kfcConvertToOutline(CFileContents* contents, const char* pattern);
/* The next line of the text with its line feed; valid until the next call. After the
 * last line it reports "EndOfContents" and answers "". */
KOLVO_EXPORT const char* kfcNext(CFileContents* contents);
/* Checks count files at once for a hit of pattern, answering for each what
 * kfcContainsHit would on the object kidxGetFileContents makes with the same arguments,
 * but reading the file only up to its first hit and keeping none of its text. verdicts
 * (count bytes) receive 1 for a hit, 0 for none or a file that cannot be shown, and 2
 * where that object must decide (an archive member, a file whose analyzer reads it its
 * own way). Ordinary files are read on up to threads threads (0: one per core); the
 * verdicts are the same for any number. Reports nothing through the callbacks. */
KOLVO_EXPORT void kidxCheckContents(CKolvoIndex* index, const kulong* files, kulong count, kulong maxBytes,
                                    int wrapWidth, kbool stripMarkup, int nearDistance, const char* pattern,
                                    int threads, char* verdicts);

/* ---- Utilities ------------------------------------------------------------------ */

/* Refills the process-wide case-folding table (always with the same values). */
KOLVO_EXPORT void mapLowerCaseChars(void);
/* Writes all of text to descriptor 1, unbuffered, retrying short and interrupted writes;
 * returns the bytes written (fewer than the text only if a write failed), or -1 if none. */
KOLVO_EXPORT int kRawStdoutWrite(const char* text);
/* Frees a block the library handed out (display texts). */
KOLVO_EXPORT void kDeleteChar(void* block);

/* ---- Enciphering and hexadecimal --------------------------------------------------- */

/* RC4 under the library's own key and fixed 10-byte salt; meant for saved passwords,
 * not for secrecy against an attacker. The caller owns both blocks.
 * kEncipher writes length + 10 bytes to out: the salt, then the enciphered bytes; out
 * must not overlap in. A negative length writes nothing; length 0 writes the salt. */
KOLVO_EXPORT void kEncipher(const unsigned char* in, int length, unsigned char* out);
/* Reverses kEncipher: in holds length bytes, salt first; writes length - 10 bytes to
 * out, which may be in itself. A length below 10 writes nothing. */
KOLVO_EXPORT void kDecipher(const unsigned char* in, int length, unsigned char* out);
/* Writes 2n upper-case digits, high nibble first, and a NUL: out holds 2n + 1 chars.
 * n <= 0 writes nothing, not even the NUL. */
KOLVO_EXPORT void convertToHex(int n, const unsigned char* in, char* out);
/* Decodes n bytes from 2n digits of either case into out (n bytes). Reading stops at
 * the first pair that is not two hexadecimal digits, the text's NUL included; that
 * byte and all later ones are set to 0. n <= 0 writes nothing. */
KOLVO_EXPORT void convertFromHex(const char* hex, int n, unsigned char* out);
/* Writes the byte as two upper-case digits to twoDigits[0..1]; no NUL. */
KOLVO_EXPORT void tohex(unsigned char byte, char* twoDigits);
/* The byte of twoDigits[0..1], either case; 0 when they are not two hexadecimal digits
 * (the second is not read when the first is not a digit). */
KOLVO_EXPORT unsigned char fromhex(const char* twoDigits);

/* ---- Name matching ------------------------------------------------------------------ */

/* Whether the name fits the name pattern: terms with the wildcards * and ?, joined by
 * | (or), & (and) and ^ (and not; at a term's start: not), evaluated left to right,
 * compared through the case-folding table. 0 for a null text or pattern. */
KOLVO_EXPORT kbool kFileNameMatch(const char* text, const char* pattern);

/* ---- Codes and version ------------------------------------------------------------ */

/* The English message of a code the callbacks report (compared without regard to case),
 * with %1%, %2% ... standing for the TAB-separated fields of the detail; null for a code
 * shown as it stands and for an unknown one. The text is the library's own. */
KOLVO_EXPORT const char* kCodeMessage(const char* code);
/* The library's version, "major.minor.patch"; the library's own text. */
KOLVO_EXPORT const char* kGetVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* KOLVO_INCLUDE_KOLVOLIB_H */
