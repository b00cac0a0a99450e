// The command texts a referral sends to the other side, and the check that a request
// holds nothing else. The search builds its requests here; kolvoserve runs a request
// only when every command in it is one of these, split as the interpreter splits it.
#pragma once

#include <functional>
#include <optional>
#include <string>

class QvReferral;
class QvSearchCriteria;

// A value as the last term of a command line, written so that the other side's
// interpreter reads it back unchanged: every ";" doubled and a closing "_" doubled.
// A value holding a line end raises QvCommandException (qvrcLineEndInValue).
std::string qvReferralValue(const std::string& value);

// Opens the referral's index, passes the criteria on, finds the phrase and lists the
// results, one command per line.
std::string qvReferralFindCommands(const QvReferral& referral, QvSearchCriteria& criteria,
                                   const std::string& phrase);
// Shows the text of a file the referral found (key as the other side knows it), with
// the hits of the phrase last searched here.
std::string qvReferralContentsCommands(const QvReferral& referral, bool outline, QvSearchCriteria& criteria,
                                       const std::string& lastPhrase, const std::string& key);

// Nothing when every command of the text is one a referral sends and every index it
// opens is one mayOpen accepts; else the first command that is refused.
std::optional<std::string> qvRefusedReferralCommand(const std::string& text,
                                                    const std::function<bool(const std::string&)>& mayOpen);

// Whether name can be sent as an index name: not empty, no blank, quote, ";", line end,
// "/" or "..".
bool qvIsSendableIndexName(const std::string& name);
