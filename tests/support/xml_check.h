#pragma once

#include <expat.h>

#include <map>
#include <string>
#include <vector>

namespace voxtrel::test {

/// An element as an XML parser reads it: its name, attributes and text, decoded.
struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;
};

/// The elements of `xml` in document order; false with *err set when it is not well-formed.
inline bool ParseXml(const std::string& xml, std::vector<XmlElement>* elements, std::string* err) {
  struct State {
    std::vector<XmlElement>* elements;
    std::vector<size_t> open;  // the elements not yet closed
  } state{elements, {}};
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char** attributes) {
        auto* s = static_cast<State*>(data);
        XmlElement element{name, {}, {}};
        for (size_t i = 0; attributes[i]; i += 2)
          element.attributes[attributes[i]] = attributes[i + 1];
        s->open.push_back(s->elements->size());
        s->elements->push_back(element);
      },
      [](void* data, const XML_Char*) { static_cast<State*>(data)->open.pop_back(); });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
    auto* s = static_cast<State*>(data);
    if (!s->open.empty()) (*s->elements)[s->open.back()].text.append(text, length);
  });
  const bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
  if (!ok) *err = XML_ErrorString(XML_GetErrorCode(parser));
  XML_ParserFree(parser);
  return ok;
}

}  // namespace voxtrel::test
