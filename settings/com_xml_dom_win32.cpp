#include "settings/com_xml_dom_win32.h"

#include <msxml2.h>
#include <ole2.h>
#include <windows.h>

#include <cstring>
#include <memory>

namespace kelvro {
namespace {

// DOMDocument of MSXML 3 and its IXMLDOMDocument interface. Defined here because the
// SDK header maps CLSID_DOMDocument to a different class.
const CLSID kClsidDomDocument30 = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

IXMLDOMNode* NodeOf(XmlNode n) {
  return static_cast<IXMLDOMNode*>(n.handle);
}

// A BSTR that frees itself.
class Bstr {
 public:
  Bstr() = default;
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* out() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  std::string utf8() const {
    const int len = b_ ? static_cast<int>(SysStringLen(b_)) : 0;
    if (len == 0) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, b_, len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, b_, len, s.data(), n, nullptr, nullptr);
    return s;
  }

 private:
  BSTR b_ = nullptr;
};

// A VARIANT holding the file's bytes as a one-dimensional byte array, the form in which
// the DOM loads a document from memory (it detects the encoding itself, as for a file).
class BytesVariant {
 public:
  explicit BytesVariant(const std::string& bytes) {
    VariantInit(&v_);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array) return;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
      SafeArrayDestroy(array);
      return;
    }
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
    v_.vt = VT_ARRAY | VT_UI1;
    v_.parray = array;
  }
  ~BytesVariant() { VariantClear(&v_); }
  BytesVariant(const BytesVariant&) = delete;
  BytesVariant& operator=(const BytesVariant&) = delete;
  const VARIANT& get() const { return v_; }
  bool ok() const { return v_.vt != VT_EMPTY; }

 private:
  VARIANT v_;
};

}  // namespace

std::unique_ptr<XmlParser> MakeXmlParser() {
  auto parser = std::make_unique<ComXmlParser>();
  if (!parser->ok()) return nullptr;
  return parser;
}

ComXmlParser::ComXmlParser() {
  // Balanced in the destructor; harmless when the host already initialised COM here.
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  com_initialized_ = SUCCEEDED(init);
  void* doc = nullptr;
  if (FAILED(CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_INPROC_SERVER,
                              kIidXmlDomDocument, &doc)) ||
      !doc) {
    return;
  }
  doc_ = static_cast<IXMLDOMDocument*>(doc);
  if (!Configure()) {
    doc_->Release();
    doc_ = nullptr;
  }
}

ComXmlParser::~ComXmlParser() {
  ReleaseNodes();
  if (doc_) doc_->Release();
  doc_ = nullptr;
  if (com_initialized_) CoUninitialize();
}

bool ComXmlParser::Configure() {
  // Synchronous load; texts with their white space as written; nothing fetched from
  // outside the file.
  return SUCCEEDED(doc_->put_async(VARIANT_FALSE)) &&
         SUCCEEDED(doc_->put_preserveWhiteSpace(VARIANT_TRUE)) &&
         SUCCEEDED(doc_->put_validateOnParse(VARIANT_FALSE)) &&
         SUCCEEDED(doc_->put_resolveExternals(VARIANT_FALSE));
}

XmlNode ComXmlParser::Keep(IXMLDOMNode* node) {
  if (!node) return {};
  try {
    nodes_.push_back(node);
  } catch (...) {
    node->Release();
    return {};
  }
  return XmlNode{node};
}

void ComXmlParser::ReleaseNodes() {
  for (IXMLDOMNode* n : nodes_) n->Release();
  nodes_.clear();
}

bool ComXmlParser::Parse(const std::string& file_bytes, const std::string& /*utf8*/) {
  if (!doc_) return false;
  ReleaseNodes();
  BytesVariant source(file_bytes);
  if (!source.ok()) return false;
  VARIANT_BOOL success = VARIANT_FALSE;
  const HRESULT hr = doc_->load(source.get(), &success);
  if (FAILED(hr) || success != VARIANT_TRUE) return false;
  IXMLDOMElement* root = nullptr;
  if (FAILED(doc_->get_documentElement(&root)) || !root) return false;
  root->Release();
  return true;
}

XmlNode ComXmlParser::Root() {
  if (!doc_) return {};
  IXMLDOMElement* root = nullptr;
  if (FAILED(doc_->get_documentElement(&root)) || !root) return {};
  return Keep(root);
}

XmlNode ComXmlParser::ElementFrom(IXMLDOMNode* node) {
  while (node) {
    DOMNodeType type = NODE_INVALID;
    if (SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ELEMENT) return Keep(node);
    IXMLDOMNode* next = nullptr;
    if (FAILED(node->get_nextSibling(&next))) next = nullptr;
    node->Release();
    node = next;
  }
  return {};
}

XmlNode ComXmlParser::FirstChildElement(XmlNode parent) {
  if (!parent) return {};
  IXMLDOMNode* child = nullptr;
  if (FAILED(NodeOf(parent)->get_firstChild(&child))) return {};
  return ElementFrom(child);
}

XmlNode ComXmlParser::NextSiblingElement(XmlNode element) {
  if (!element) return {};
  IXMLDOMNode* next = nullptr;
  if (FAILED(NodeOf(element)->get_nextSibling(&next))) return {};
  return ElementFrom(next);
}

bool ComXmlParser::Name(XmlNode element, std::string& utf8) {
  if (!element) return false;
  Bstr name;
  if (FAILED(NodeOf(element)->get_nodeName(name.out()))) return false;
  utf8 = name.utf8();
  return true;
}

bool ComXmlParser::Text(XmlNode element, std::string& utf8) {
  utf8.clear();
  if (!element) return false;
  Bstr value;
  if (FAILED(NodeOf(element)->get_text(value.out()))) return false;
  utf8 = value.utf8();
  return true;
}

}  // namespace kelvro
