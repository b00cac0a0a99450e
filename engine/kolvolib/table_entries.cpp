// The C entries of the tables: word and skip-word tables (kts), the file table (kfs),
// file records (kfi) and link chains (kfl). Each forwards to one table operation inside
// the one guard; a damaged table or a foreign pointer gives the documented nothing.
#include <cstring>
#include <vector>

#include "engine/filememory/le_fields.h"
#include "engine/filememory/mapping_registry.h"
#include "engine/index/resource_limits.h"
#include "engine/kolvolib/entry_guard.h"
#include "engine/kolvolib/time_conversion.h"
#include "engine/storage/file_links.h"
#include "engine/storage/file_storage.h"
#include "engine/storage/text_storage.h"
#include "include/kolvolib.h"

using kolvo::guardEntry;

namespace {

struct RecordRef {
  CFileStorage* table;
  uint32_t file;
};

// The file table and file number behind a record pointer handed back by a caller; a
// pointer into no file table is refused with "AssertionFailed".
RecordRef recordOf(const KolvoFileInfo* info) {
  auto* table = dynamic_cast<CFileStorage*>(kolvo::findMapping(info, CFileStorage::infoSize));
  uint32_t file = table ? table->fileOfInfo(info) : 0;
  kolvo::kolvoCheck(file != 0, "file record pointer");
  return RecordRef{table, file};
}

}  // namespace

extern "C" {

KOLVO_EXPORT kulong ktsGetFirst(CTextStorage* table) {
  return guardEntry<kulong>(0, [&] { return table ? table->getFirst() : 0u; });
}

KOLVO_EXPORT kulong ktsGetNext(CTextStorage* table, kulong word) {
  return guardEntry<kulong>(0, [&] { return table ? table->getNext(word) : 0u; });
}

KOLVO_EXPORT kulong ktsLookup(CTextStorage* table, const char* text) {
  return guardEntry<kulong>(0, [&] { return table && text ? table->lookup(text) : 0u; });
}

KOLVO_EXPORT const char* ktsGetText(CTextStorage* table, kulong word) {
  return guardEntry<const char*>(nullptr, [&] { return table ? table->getText(word) : nullptr; });
}

KOLVO_EXPORT kulong ktsGetPrefixed(CTextStorage* table, const char* prefix, kulong* cursor, kulong* words,
                                   kulong capacity) {
  return guardEntry<kulong>(0, [&]() -> kulong {
    if (!table || !prefix || !cursor || !words) return 0;
    return table->findPrefixed(prefix, *cursor, words, capacity, kolvo::limits::prefixWalkSteps);
  });
}

KOLVO_EXPORT void* ktsGetData(CTextStorage* table, kulong word) {
  return guardEntry<void*>(nullptr, [&]() -> void* {
    // The program only reads the block; the table stays the only writer.
    return table ? const_cast<unsigned char*>(table->getData(word)) : nullptr;
  });
}

KOLVO_EXPORT kulong kfsAddFile(CFileStorage* table, const char* name) {
  return guardEntry<kulong>(0, [&] { return table && name ? table->addFile(name) : 0u; });
}

KOLVO_EXPORT kulong kfsLookupFile(CFileStorage* table, const char* name, kulong parent) {
  return guardEntry<kulong>(0, [&] { return table && name ? table->lookupFile(name, parent) : 0u; });
}

KOLVO_EXPORT kulong kfsGetFirst(CFileStorage* table) {
  return guardEntry<kulong>(0, [&] { return table ? table->getFirst() : 0u; });
}

KOLVO_EXPORT kulong kfsGetNext(CFileStorage* table, kulong file) {
  return guardEntry<kulong>(0, [&] { return table && table->isFileNumber(file) ? table->getNext(file) : 0u; });
}

KOLVO_EXPORT KolvoFileInfo* kfsGetInfo(CFileStorage* table, kulong file) {
  return guardEntry<KolvoFileInfo*>(nullptr, [&]() -> KolvoFileInfo* {
    if (!table || !table->isFileNumber(file)) return nullptr;
    const unsigned char* info = table->getData(file);
    return reinterpret_cast<KolvoFileInfo*>(const_cast<unsigned char*>(info));
  });
}

KOLVO_EXPORT kulong kfsGetRecords(CFileStorage* table, const kulong* files, kulong count, KolvoFileRecord* records) {
  return guardEntry<kulong>(0, [&]() -> kulong {
    if (!table || !files || !records) return 0;
    std::vector<unsigned char> isFile(count);
    table->checkFileNumbers(files, count, isFile.data());
    kulong entries = 0;
    for (kulong i = 0; i < count; ++i) {
      records[i] = KolvoFileRecord{nullptr, 0, 0, 0.0};
      if (!isFile[i]) continue;
      uint32_t file = files[i];
      records[i] = KolvoFileRecord{table->getText(file), table->getParent(file), table->getSize(file),
                                   kolvo::macFromUnixTime(table->getTime(file))};
      ++entries;
    }
    return entries;
  });
}

KOLVO_EXPORT kulong kfiGetFileParentID(const KolvoFileInfo* info) {
  return guardEntry<kulong>(0, [&] { RecordRef r = recordOf(info); return r.table->getParent(r.file); });
}

KOLVO_EXPORT void kfiSetFileParentID(KolvoFileInfo* info, kulong parent) {
  guardEntry([&] { RecordRef r = recordOf(info); r.table->setParent(r.file, parent); });
}

KOLVO_EXPORT kulong kfiGetFileSize(const KolvoFileInfo* info) {
  return guardEntry<kulong>(0, [&] { RecordRef r = recordOf(info); return r.table->getSize(r.file); });
}

KOLVO_EXPORT void kfiSetFileSize(KolvoFileInfo* info, kulong size) {
  guardEntry([&] { RecordRef r = recordOf(info); r.table->setSize(r.file, size); });
}

KOLVO_EXPORT kulong kfiGetFileAttributes(const KolvoFileInfo* info) {
  return guardEntry<kulong>(0, [&] { RecordRef r = recordOf(info); return r.table->getAttributes(r.file); });
}

KOLVO_EXPORT void kfiSetFileAttributes(KolvoFileInfo* info, kulong attributes) {
  guardEntry([&] { RecordRef r = recordOf(info); r.table->setAttributes(r.file, attributes); });
}

KOLVO_EXPORT const char* kfiGetFileName(const KolvoFileInfo* info) {
  return guardEntry<const char*>(nullptr, [&] { RecordRef r = recordOf(info); return r.table->getText(r.file); });
}

KOLVO_EXPORT double kfiGetFileTimeLastWritten(const KolvoFileInfo* info) {
  return guardEntry<double>(0.0, [&] {
    RecordRef r = recordOf(info);
    return kolvo::macFromUnixTime(r.table->getTime(r.file));
  });
}

KOLVO_EXPORT void kfiSetFileTimeLastWritten(KolvoFileInfo* info, double time) {
  guardEntry([&] { RecordRef r = recordOf(info); r.table->setTime(r.file, kolvo::unixFromMacTime(time)); });
}

KOLVO_EXPORT void kfiMarkFileObsolete(KolvoFileInfo* info) {
  guardEntry([&] { RecordRef r = recordOf(info); r.table->markObsolete(r.file); });
}

KOLVO_EXPORT kulong kflGetFile(CFileLinks* links, kulong* cursor) {
  return guardEntry<kulong>(0, [&]() -> kulong {
    if (!links || !cursor) return 0;
    uint8_t rank = 0;
    uint32_t file = links->getFile(cursor[0], rank);
    cursor[1] = rank;
    return file;
  });
}

KOLVO_EXPORT kulong kflGetFiles(CFileLinks* links, kulong* cursor, kulong* files, kulong* ranks, kulong capacity) {
  return guardEntry<kulong>(0, [&]() -> kulong {
    if (!links || !cursor || !files || !ranks) return 0;
    return links->getFiles(*cursor, files, ranks, capacity);
  });
}

KOLVO_EXPORT kulong kflGetNextList(CFileLinks* links, kulong offset) {
  return guardEntry<kulong>(0, [&]() -> kulong {
    if (!links) return 0;
    uint32_t next = links->getNextList(offset);
    // Older blocks always lie before newer ones: a link forward would loop.
    kolvo::kolvoCheck(next < offset, "link chain");
    return next;
  });
}

}  // extern "C"
