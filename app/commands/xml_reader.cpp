#include "app/commands/xml_reader.h"

#include <expat.h>

#include <algorithm>
#include <exception>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"

namespace {

// What the C callbacks need: the reader, the parser to stop, and the first failure.
struct ParseContext {
  QvxmlReader* reader;
  XML_Parser parser;
  std::exception_ptr failure;
};

// Exceptions must not cross Expat's C frames: keep the first and stop the parse.
template <class Work>
void guarded(void* data, Work work) {
  auto* context = static_cast<ParseContext*>(data);
  if (context->failure) return;
  try {
    work(*context->reader);
  } catch (...) {
    context->failure = std::current_exception();
    XML_StopParser(context->parser, XML_FALSE);
  }
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  guarded(data, [&](QvxmlReader& reader) {
    QvXmlAttributes pairs;
    for (int i = 0; attributes[i] && attributes[i + 1]; i += 2) pairs[attributes[i]] = attributes[i + 1];
    reader.startElement(name, pairs);
  });
}

void XMLCALL onEnd(void* data, const XML_Char* name) {
  guarded(data, [&](QvxmlReader& reader) { reader.endElement(name); });
}

void XMLCALL onCharacters(void* data, const XML_Char* text, int length) {
  guarded(data, [&](QvxmlReader& reader) { reader.characters(std::string_view(text, static_cast<std::size_t>(length))); });
}

void XMLCALL onProcessingInstruction(void* data, const XML_Char* target, const XML_Char* text) {
  guarded(data, [&](QvxmlReader& reader) { reader.processingInstruction(target, text ? text : ""); });
}

struct ParserFree {
  void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

}  // namespace

QvxmlReader::QvxmlReader(std::shared_ptr<QvCommandObject> root)
    : mCurrentElement(root), mCmdInterface(root->commandInterface()), mRoot(root) {}

void QvxmlReader::parse(std::string_view text) {
  std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate("UTF-8"));
  if (!parser) throw std::bad_alloc();
  ParseContext context{this, parser.get(), nullptr};
  XML_SetUserData(parser.get(), &context);
  XML_SetElementHandler(parser.get(), onStart, onEnd);
  XML_SetCharacterDataHandler(parser.get(), onCharacters);
  XML_SetProcessingInstructionHandler(parser.get(), onProcessingInstruction);
  // Expat takes int lengths: feed long documents in pieces.
  constexpr std::size_t kPiece = 1 << 20;
  std::size_t at = 0;
  XML_Status status = XML_STATUS_OK;
  do {
    std::size_t length = std::min(kPiece, text.size() - at);
    bool last = at + length == text.size();
    status = XML_Parse(parser.get(), text.data() + at, static_cast<int>(length), last ? XML_TRUE : XML_FALSE);
    at += length;
  } while (status == XML_STATUS_OK && at < text.size());
  if (context.failure) std::rethrow_exception(context.failure);
  if (status != XML_STATUS_OK) {
    throw QvCommandException(qvxrParseError,
                             std::vector<std::string>{XML_ErrorString(XML_GetErrorCode(parser.get())),
                                                      std::to_string(XML_GetCurrentLineNumber(parser.get()))});
  }
}

void QvxmlReader::startElement(const std::string& name, const QvXmlAttributes& attributes) {
  if (name == "QvXmlDocument") return;
  if (name == "reference") {
    auto nameAttribute = attributes.find("name");
    auto pathAttribute = attributes.find("path");
    if (nameAttribute == attributes.end() || pathAttribute == attributes.end()) return;
    auto target = mCmdInterface ? mCmdInterface->getObjectFromPath(pathAttribute->second) : nullptr;
    if (target) {
      mCurrentElement->setReference(nameAttribute->second, target);
    } else {
      mReferences[pathAttribute->second].emplace_back(mCurrentElement->getPath(), nameAttribute->second);
    }
    return;
  }
  mCharacterStack.push_back(std::move(mCurrentCharacters));
  mCurrentCharacters.clear();
  auto encoding = attributes.find("encoding");
  mLatin1Stack.push_back(encoding != attributes.end() && encoding->second == "latin1");
  mElementStack.push_back(mCurrentElement);
  mCurrentElement = mCurrentElement->xmlStartElement(name, attributes);
}

void QvxmlReader::endElement(const std::string& name) {
  if (name == "QvXmlDocument" || name == "reference") return;
  if (mElementStack.empty()) return;  // Expat has checked nesting; this is only a guard
  std::shared_ptr<QvCommandObject> ended = mCurrentElement;
  mCurrentElement = mElementStack.back();
  mElementStack.pop_back();
  if (ended != mCurrentElement) {
    auto waiting = mReferences.find(ended->getPath());
    if (waiting != mReferences.end()) {
      for (const auto& [ownerPath, referenceName] : waiting->second) {
        auto owner = mCmdInterface ? mCmdInterface->getObjectFromPath(ownerPath) : nullptr;
        if (owner) owner->setReference(referenceName, ended);
      }
      mReferences.erase(waiting);
    }
  }
  bool latin1 = !mLatin1Stack.empty() && mLatin1Stack.back();
  if (!mLatin1Stack.empty()) mLatin1Stack.pop_back();
  mCurrentElement->xmlEndElement(ended, name, latin1 ? qvToLatin1(mCurrentCharacters) : mCurrentCharacters);
  mCurrentCharacters = std::move(mCharacterStack.back());
  mCharacterStack.pop_back();
}

void QvxmlReader::processingInstruction(const std::string& target, const std::string& data) {
  mCurrentElement->xmlProcessingInstruction(target, data);
}
