/* The C interface as a C program meets it: kolvolib.so loaded by name, every entry
 * bound with dlsym, and an index driven through its whole life. Compiled as C. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "include/kolvolib.h"

static int failures = 0;
#define CHECK(condition)                                                   \
  do {                                                                     \
    if (!(condition)) {                                                    \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                          \
    }                                                                      \
  } while (0)

static void* library;
static void* bind(const char* name) {
  void* entry = dlsym(library, name);
  if (!entry) {
    fprintf(stderr, "kolvolib.so has no entry %s\n", name);
    exit(2);
  }
  return entry;
}
/* Binds a declared entry to a local pointer of the header's own type. */
#define BIND(name) __typeof__(&name) p_##name = (__typeof__(&name))bind(#name)

static char lastError[512];
static int errorCount = 0;
static void onError(const char* code, const char* detail) {
  snprintf(lastError, sizeof lastError, "%s|%s", code, detail);
  ++errorCount;
}

int main(void) {
  library = dlopen(KOLVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    fprintf(stderr, "cannot load kolvolib.so: %s\n", dlerror());
    return 2;
  }
  BIND(kSetThrowCallBack);
  BIND(kCreateNewIndex);
  BIND(kidxClearIndex);
  BIND(kidxSetMinWordLength);
  BIND(kidxSetUseRanking);
  BIND(kidxSetTimeBase);
  BIND(kidxSetValidCharMask);
  BIND(kidxGetWords);
  BIND(kidxGetFiles);
  BIND(kidxGetLinks);
  BIND(kidxEmptyIndex);
  BIND(kidxNewFileLinks);
  BIND(kidxIndexWord);
  BIND(kidxCompressLinks);
  BIND(kidxStoreStorage);
  BIND(kidxGetWordsIndexed);
  BIND(kfsAddFile);
  BIND(kfsLookupFile);
  BIND(kfsGetInfo);
  BIND(kfiSetFileParentID);
  BIND(kfiGetFileParentID);
  BIND(kfiSetFileSize);
  BIND(kfiGetFileSize);
  BIND(kfiSetFileTimeLastWritten);
  BIND(kfiGetFileTimeLastWritten);
  BIND(kfiGetFileName);
  BIND(ktsLookup);
  BIND(ktsGetFirst);
  BIND(ktsGetNext);
  BIND(ktsGetText);
  BIND(ktsGetData);
  BIND(kflGetFile);
  BIND(kflGetNextList);
  BIND(kEncipher);
  BIND(kDecipher);
  BIND(convertToHex);
  BIND(convertFromHex);

  char folder[] = "/tmp/kolvo-c-api-XXXXXX";
  if (!mkdtemp(folder)) return 2;
  char path[256];
  snprintf(path, sizeof path, "%s/", folder);

  /* Failures with no throw callback registered are silent and return. */
  p_kSetThrowCallBack(NULL);
  CHECK(p_kCreateNewIndex(0, "/nonexistent/kolvo/") == NULL);
  p_kSetThrowCallBack(onError);
  CHECK(p_kCreateNewIndex(0, path) == NULL);
  CHECK(strncmp(lastError, "StorageReadError|", 17) == 0);

  /* A build: settings, masks, files, words, links, store. */
  CKolvoIndex* index = p_kCreateNewIndex(1, path);
  CHECK(index != NULL);
  p_kidxSetMinWordLength(index, 2);
  p_kidxSetUseRanking(index, 1);
  p_kidxSetTimeBase(index, 2082844800.0 + 1700000000.0);
  for (int c = 'a'; c <= 'z'; ++c) p_kidxSetValidCharMask(index, c, 1);
  p_kidxEmptyIndex(index);
  CHECK(p_kidxGetLinks(index) == NULL);
  p_kidxNewFileLinks(index);
  CHECK(p_kidxGetLinks(index) != NULL);
  CFileStorage* files = p_kidxGetFiles(index);
  kulong folderId = p_kfsAddFile(files, "/data");
  kulong first = p_kfsAddFile(files, "one.txt");
  kulong second = p_kfsAddFile(files, "two.txt");
  p_kfiSetFileParentID(p_kfsGetInfo(files, first), folderId);
  p_kfiSetFileParentID(p_kfsGetInfo(files, second), folderId);
  p_kfiSetFileSize(p_kfsGetInfo(files, second), 4321);
  p_kfiSetFileTimeLastWritten(p_kfsGetInfo(files, second), 2082844800.0 + 1600000000.7);
  p_kidxIndexWord(index, "shared", first);
  p_kidxIndexWord(index, "shared", first);
  p_kidxIndexWord(index, "only", first);
  p_kidxIndexWord(index, "shared", second);
  CHECK(p_kidxGetWordsIndexed(index) == 2);
  p_kidxCompressLinks(index);
  p_kidxStoreStorage(index, path);
  p_kidxClearIndex(index);

  /* Reopened read-only, everything reads back. */
  errorCount = 0;
  index = p_kCreateNewIndex(0, path);
  CHECK(index != NULL);
  CHECK(errorCount == 0);
  files = p_kidxGetFiles(index);
  CHECK(p_kfsLookupFile(files, "two.txt", folderId) == second && p_kfsLookupFile(files, "TWO.TXT", folderId) == 0);
  KolvoFileInfo* info = p_kfsGetInfo(files, second);
  CHECK(p_kfiGetFileSize(info) == 4321);
  CHECK(p_kfiGetFileParentID(info) == folderId);
  CHECK(p_kfiGetFileTimeLastWritten(info) == 2082844800.0 + 1600000000.0);
  CHECK(strcmp(p_kfiGetFileName(info), "two.txt") == 0);
  CTextStorage* words = p_kidxGetWords(index);
  kulong shared = p_ktsLookup(words, "SHARED");
  CHECK(shared != 0 && p_ktsGetFirst(words) == shared);
  CHECK(strcmp(p_ktsGetText(words, p_ktsGetNext(words, shared)), "only") == 0);
  const unsigned char* data = (const unsigned char*)p_ktsGetData(words, shared);
  kulong currentFile, chainHead;
  memcpy(&currentFile, data, 4);
  memcpy(&chainHead, data + 8, 4);
  CHECK(currentFile == second);
  CFileLinks* links = p_kidxGetLinks(index);
  kulong cursor[2] = {chainHead, 0};
  CHECK(p_kflGetFile(links, cursor) == first);
  CHECK(cursor[1] == 1); /* one further occurrence in the first file */
  CHECK(p_kflGetFile(links, cursor) == 0);
  CHECK(p_kflGetNextList(links, cursor[0]) == 0);
  /* Adding to a read-only table is refused through the callback, not a fault. */
  errorCount = 0;
  CHECK(p_kfsAddFile(files, "late") == 0);
  CHECK(errorCount == 1 && strncmp(lastError, "AssertionFailed|", 16) == 0);
  p_kidxClearIndex(index);
  p_kidxClearIndex(NULL);

  /* Enciphering: a fixed salt in front, and a round trip. */
  const unsigned char secret[5] = {'k', 'o', 'l', 'v', 'o'};
  unsigned char once[15], twice[15], back[5];
  p_kEncipher(secret, 5, once);
  p_kEncipher(secret, 5, twice);
  CHECK(memcmp(once, twice, 10) == 0);
  CHECK(memcmp(once + 10, secret, 5) != 0);
  p_kDecipher(once, 15, back);
  CHECK(memcmp(back, secret, 5) == 0);
  char hex[5];
  const unsigned char bytes[2] = {0x00, 0xAB};
  p_convertToHex(2, bytes, hex);
  CHECK(strcmp(hex, "00AB") == 0);
  unsigned char decoded[2] = {1, 1};
  p_convertFromHex("00ab", 2, decoded);
  CHECK(decoded[0] == 0x00 && decoded[1] == 0xAB);

  /* The header's readers of a word-data block: little-endian at any offset. */
  const unsigned char block[17] = {0xFF, 0x78, 0x56, 0x34, 0x12, 0x02, 0x01, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE};
  CHECK(kwdCurrentFile(block + 1) == 0x12345678u);
  CHECK(kwdCurrentCount(block + 1) == 0x0102u);
  CHECK(kwdChainHead(block + 1) == 0xDEADBEEFu);
  CHECK(kwdCurrentFile(NULL) == 0 && kwdChainHead(NULL) == 0);

  /* Texts of codes for a program that shows the library's reports itself. */
  BIND(kCodeMessage);
  BIND(kGetVersion);
  CHECK(strcmp(p_kCodeMessage("SkipOpenFail"), "Could not open skip file %1%") == 0);
  CHECK(p_kCodeMessage("Done") == NULL);
  CHECK(strlen(p_kGetVersion()) >= 5);

  char command[300];
  snprintf(command, sizeof command, "rm -rf '%s'", folder);
  if (system(command) != 0) fprintf(stderr, "could not remove %s\n", folder);
  dlclose(library);
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  else printf("c_api_test: all checks passed\n");
  return failures ? 1 : 0;
}
