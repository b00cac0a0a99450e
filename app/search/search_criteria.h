// The search criteria, the index object's child "criteria": which found files are kept
// by name, folder, size and date, how near words must stand, and whether search terms
// are regular expressions. The search consults it for every file it adds; referrals
// receive a copy of it with every search.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/commands/command_object.h"
#include "app/platform/regex.h"

class QvSearchCriteria : public QvCommandObject {
 public:
  QvSearchCriteria(const std::string& name, QvCommandParent& parent);

  void clear();
  void performCommand(const std::string& command, const std::string& arguments, QvResults& results) override;
  std::string getValue(const std::string& name) override;
  void setValue(const std::string& name, const std::string& value) override;
  void xmlBody(QvResults& lines) override;
  std::string getInfo(const std::string& what) override;

  bool doesFileNameMatch(std::string_view name) const;
  bool doesFolderNameMatch(std::string_view name) const;
  // Without "*" the whole name equals the pattern; with it, the pieces between stars
  // occur in order, the first at the start and the last at the end. Case is ignored.
  static bool isSimpleMatch(std::string_view name, std::string_view pattern);
  bool hasDefaultValues() const;
  // Whether a file of that name, size and time passes; the folder's name is asked for
  // only when a folder pattern is set.
  bool admits(std::string_view name, double size, double timeLastWritten,
              const std::function<std::string()>& folderName) const;

  // Sizes of 2 GiB and more are asked for too: 64 bits, so none of them turns negative.
  int64_t mMinSize = 0;
  int64_t mMaxSize = 0;
  double mOnOrBefore = 0;
  std::string mFileName = "*";
  double mOnOrAfter = 0;
  std::string mFolderName = "*";
  int32_t mMaxResults = 1000;
  int32_t mMaxBufferSize = 10000000;
  int32_t mNearCount = 8;
  std::unique_ptr<QvRegex> mFileNameRegEx;
  std::unique_ptr<QvRegex> mFolderNameRegex;
  std::unique_ptr<QvRegex> mTokenRegEx;
  bool mIncludeParentIndex = true;

  static constexpr QvMessage qvscFileName{"QvSearchCriteria.qvscFileName", "File name"};
  static constexpr QvMessage qvscFileNameRegex{"QvSearchCriteria.qvscFileNameRegex", "File name regular expression"};
  static constexpr QvMessage qvscFolderName{"QvSearchCriteria.qvscFolderName", "Folder name"};
  static constexpr QvMessage qvscFolderNameRegex{"QvSearchCriteria.qvscFolderNameRegex",
                                                 "Folder name regular expression"};
  static constexpr QvMessage qvscIncludeParent{"QvSearchCriteria.qvscIncludeParent", "Include parent"};
  static constexpr QvMessage qvscMaxBufferSize{"QvSearchCriteria.qvscMaxBufferSize", "Max buffer size"};
  static constexpr QvMessage qvscMaxResults{"QvSearchCriteria.qvscMaxResults", "Max results"};
  static constexpr QvMessage qvscMaxSize{"QvSearchCriteria.qvscMaxSize", "Max size"};
  static constexpr QvMessage qvscMinSize{"QvSearchCriteria.qvscMinSize", "Min size"};
  static constexpr QvMessage qvscNearCount{"QvSearchCriteria.qvscNearCount", "Near count"};
  static constexpr QvMessage qvscOnOrAfter{"QvSearchCriteria.qvscOnOrAfter", "On or after"};
  static constexpr QvMessage qvscOnOrAfterSeconds{"QvSearchCriteria.qvscOnOrAfterSeconds", "On or after seconds"};
  static constexpr QvMessage qvscOnOrBefore{"QvSearchCriteria.qvscOnOrBefore", "On or before"};
  static constexpr QvMessage qvscOnOrBeforeSeconds{"QvSearchCriteria.qvscOnOrBeforeSeconds", "On or before seconds"};
  static constexpr QvMessage qvscTokenRegex{"QvSearchCriteria.qvscTokenRegex", "Token regular expression"};
  static constexpr QvMessage qvscCriteriaCleared{"QvSearchCriteria.qvscCriteriaCleared", "criteria cleared"};
  static constexpr QvMessage qvscBadRegex{"QvSearchCriteria.qvscBadRegex", "%1%"};

 private:
  // "True" (any case) makes the expression from the pattern; anything else removes it.
  void setRegex(std::unique_ptr<QvRegex>& field, const std::string& value, const std::string& pattern);
  static bool matches(const std::unique_ptr<QvRegex>& regex, std::string_view name, const std::string& pattern);
};
