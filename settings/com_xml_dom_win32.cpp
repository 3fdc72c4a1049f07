#include "settings/com_xml_dom_win32.h"

#include <msxml2.h>
#include <ole2.h>
#include <windows.h>

#include <memory>

namespace kelvro {
namespace {

// DOMDocument of MSXML 3 and its IXMLDOMDocument interface. Defined here because the
// SDK header maps CLSID_DOMDocument to a different class.
const CLSID kClsidDomDocument30 = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

constexpr unsigned long long kMaxFileBytes = 64ull * 1024ull * 1024ull;

IXMLDOMNode* NodeOf(XmlNode n) {
  return static_cast<IXMLDOMNode*>(n.handle);
}

std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string Narrow(const wchar_t* w, size_t len) {
  if (!w || len == 0) return {};
  const int n =
      WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(len), s.data(), n, nullptr, nullptr);
  return s;
}

// A BSTR that frees itself.
class Bstr {
 public:
  explicit Bstr(const std::string& s) {
    const std::wstring w = Widen(s);
    b_ = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  }
  Bstr() = default;
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* out() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  std::string narrow() const { return Narrow(b_, b_ ? SysStringLen(b_) : 0); }
  bool equals(const std::wstring& w) const {
    const size_t len = b_ ? SysStringLen(b_) : 0;
    return len == w.size() && (len == 0 || w.compare(0, len, b_, len) == 0);
  }

 private:
  BSTR b_ = nullptr;
};

// A string VARIANT holding a path; cleared on destruction.
class PathVariant {
 public:
  explicit PathVariant(const std::string& path) {
    VariantInit(&v_);
    const std::wstring w = Widen(path);
    v_.vt = VT_BSTR;
    v_.bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  }
  ~PathVariant() { VariantClear(&v_); }
  PathVariant(const PathVariant&) = delete;
  PathVariant& operator=(const PathVariant&) = delete;
  const VARIANT& get() const { return v_; }
  bool ok() const { return v_.bstrVal != nullptr; }

 private:
  VARIANT v_;
};

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, chunk, sizeof chunk, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    bytes.append(chunk, got);
    if (bytes.size() > kMaxFileBytes) {
      ok = false;
      break;
    }
  }
  CloseHandle(h);
  return ok;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(h);
  return CloseHandle(h) && ok;
}

// Value of the encoding attribute of the file's XML declaration, lower case; empty when
// there is none.
std::string DeclaredEncoding(const std::string& bytes) {
  const size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (bytes.compare(start, 5, "<?xml") != 0) return {};
  const size_t end = bytes.find("?>", start);
  const size_t at = bytes.find("encoding", start);
  if (end == std::string::npos || at == std::string::npos || at > end) return {};
  const size_t quote = bytes.find_first_of("\"'", at);
  if (quote == std::string::npos || quote > end) return {};
  const size_t close = bytes.find(bytes[quote], quote + 1);
  if (close == std::string::npos || close > end) return {};
  std::string name = bytes.substr(quote + 1, close - quote - 1);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

// Windows code page of a single-byte encoding name, or 0.
UINT SingleByteCodePage(const std::string& name) {
  if (name == "iso-8859-1" || name == "latin1" || name == "latin-1" || name == "iso_8859-1") {
    return 28591;
  }
  if (name == "iso-8859-2") return 28592;
  if (name == "iso-8859-15") return 28605;
  if (name.rfind("windows-125", 0) == 0 && name.size() == 12 && name[11] >= '0' &&
      name[11] <= '8') {
    return 1250 + static_cast<UINT>(name[11] - '0');
  }
  if (name == "cp1252") return 1252;
  return 0;
}

// UTF-8 bytes re-encoded into a single-byte code page; false when a character has no
// place in it.
bool RecodeUtf8(const std::string& utf8, UINT code_page, std::string& out) {
  if (utf8.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                    static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), n);
  BOOL lossy = FALSE;
  const int m = WideCharToMultiByte(code_page, 0, wide.data(), n, nullptr, 0, nullptr, &lossy);
  if (m <= 0 || lossy) return false;
  out.assign(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), n, out.data(), m, nullptr, &lossy);
  return !lossy;
}

}  // namespace

std::unique_ptr<XmlDom> MakeXmlDom() {
  auto dom = std::make_unique<ComXmlDom>();
  if (!dom->ok()) return nullptr;
  return dom;
}

ComXmlDom::ComXmlDom() {
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

ComXmlDom::~ComXmlDom() {
  ReleaseNodes();
  if (doc_) doc_->Release();
  doc_ = nullptr;
  if (com_initialized_) CoUninitialize();
}

bool ComXmlDom::Configure() {
  // Synchronous load; white space, comments and layout kept so that a save changes as
  // little of the host's file as possible; nothing fetched from outside the file.
  return SUCCEEDED(doc_->put_async(VARIANT_FALSE)) &&
         SUCCEEDED(doc_->put_preserveWhiteSpace(VARIANT_TRUE)) &&
         SUCCEEDED(doc_->put_validateOnParse(VARIANT_FALSE)) &&
         SUCCEEDED(doc_->put_resolveExternals(VARIANT_FALSE));
}

XmlNode ComXmlDom::Keep(IXMLDOMNode* node) {
  if (!node) return {};
  try {
    nodes_.push_back(node);
  } catch (...) {
    node->Release();
    return {};
  }
  return XmlNode{node};
}

void ComXmlDom::ReleaseNodes() {
  for (IXMLDOMNode* n : nodes_) n->Release();
  nodes_.clear();
}

XmlLoadOutcome ComXmlDom::Load(const std::string& path) {
  if (!doc_) return XmlLoadOutcome::kUnreadable;
  ReleaseNodes();
  utf8_bom_ = false;
  declared_encoding_.clear();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
               ? XmlLoadOutcome::kMissing
               : XmlLoadOutcome::kUnreadable;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return XmlLoadOutcome::kUnreadable;
  // Read it once ourselves: tells an unreadable file from a missing one and an empty file
  // from a broken one, and shows whether it starts with a byte order mark.
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) return XmlLoadOutcome::kUnreadable;
  if (bytes.empty()) return XmlLoadOutcome::kMissing;
  utf8_bom_ = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  declared_encoding_ = DeclaredEncoding(bytes);

  PathVariant source(path);
  if (!source.ok()) return XmlLoadOutcome::kUnreadable;
  VARIANT_BOOL success = VARIANT_FALSE;
  const HRESULT hr = doc_->load(source.get(), &success);
  if (FAILED(hr) || success != VARIANT_TRUE) return XmlLoadOutcome::kUnreadable;
  IXMLDOMElement* root = nullptr;
  if (FAILED(doc_->get_documentElement(&root)) || !root) return XmlLoadOutcome::kUnreadable;
  root->Release();
  return XmlLoadOutcome::kLoaded;
}

bool ComXmlDom::Save(const std::string& path) {
  if (!doc_) return false;
  PathVariant target(path);
  if (!target.ok() || FAILED(doc_->save(target.get()))) return false;
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) return false;
  const unsigned char first = bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]);
  if (utf8_bom_ && bytes.compare(0, 3, "\xEF\xBB\xBF") != 0 && first != 0xFF && first != 0xFE) {
    // The DOM writes UTF-8 without a byte order mark; put back the one the file had.
    bytes.insert(0, "\xEF\xBB\xBF");
    if (!WriteFileBytes(path, bytes)) return false;
  }
  if (ReadsBackAsDocument(path)) return true;
  // Some implementations of the DOM write UTF-8 whatever the declaration says, which
  // would turn every accented letter of the host's file into two wrong ones. Encode the
  // text into the declared code page ourselves, and give up if that does not help.
  const UINT code_page = SingleByteCodePage(declared_encoding_);
  std::string recoded;
  if (code_page == 0 || !RecodeUtf8(bytes, code_page, recoded)) return false;
  return WriteFileBytes(path, recoded) && ReadsBackAsDocument(path);
}

// Loads the written file into a second document and compares both, so that a file that
// would read back differently never replaces the profile.
bool ComXmlDom::ReadsBackAsDocument(const std::string& path) {
  ComXmlDom check;
  if (!check.ok() || check.Load(path) != XmlLoadOutcome::kLoaded) return false;
  Bstr mine;
  Bstr theirs;
  if (FAILED(doc_->get_xml(mine.out())) || FAILED(check.doc_->get_xml(theirs.out()))) {
    return false;
  }
  const size_t len = mine.get() ? SysStringLen(mine.get()) : 0;
  return theirs.equals(std::wstring(mine.get() ? mine.get() : L"", len));
}

XmlNode ComXmlDom::Document() {
  if (!doc_) return {};
  doc_->AddRef();
  return Keep(doc_);
}

XmlNode ComXmlDom::DocumentElement() {
  if (!doc_) return {};
  IXMLDOMElement* root = nullptr;
  if (FAILED(doc_->get_documentElement(&root)) || !root) return {};
  return Keep(root);
}

XmlNode ComXmlDom::FindChild(XmlNode parent, const std::string& name) {
  if (!parent) return {};
  const std::wstring wanted = Widen(name);
  IXMLDOMNode* child = nullptr;
  if (FAILED(NodeOf(parent)->get_firstChild(&child))) return {};
  while (child) {
    DOMNodeType type = NODE_INVALID;
    if (SUCCEEDED(child->get_nodeType(&type)) && type == NODE_ELEMENT) {
      Bstr child_name;
      if (SUCCEEDED(child->get_nodeName(child_name.out())) && child_name.equals(wanted)) {
        return Keep(child);
      }
    }
    IXMLDOMNode* next = nullptr;
    if (FAILED(child->get_nextSibling(&next))) next = nullptr;
    child->Release();
    child = next;
  }
  return {};
}

bool ComXmlDom::GetText(XmlNode element, std::string& text) {
  text.clear();
  if (!element) return false;
  Bstr value;
  if (FAILED(NodeOf(element)->get_text(value.out()))) return false;
  text = value.narrow();
  return true;
}

bool ComXmlDom::SetText(XmlNode element, const std::string& text) {
  if (!element) return false;
  Bstr value(text);
  if (!value.get() && !text.empty()) return false;
  return SUCCEEDED(NodeOf(element)->put_text(value.get()));
}

XmlNode ComXmlDom::AppendNewElement(XmlNode parent, const std::string& name) {
  if (!doc_ || !parent) return {};
  Bstr tag(name);
  if (!tag.get()) return {};
  IXMLDOMElement* element = nullptr;
  if (FAILED(doc_->createElement(tag.get(), &element)) || !element) return {};
  IXMLDOMNode* appended = nullptr;
  const HRESULT hr = NodeOf(parent)->appendChild(element, &appended);
  element->Release();
  if (FAILED(hr) || !appended) return {};
  return Keep(appended);
}

bool ComXmlDom::RemoveChild(XmlNode parent, XmlNode child) {
  if (!parent || !child) return false;
  IXMLDOMNode* old = nullptr;
  if (FAILED(NodeOf(parent)->removeChild(NodeOf(child), &old))) return false;
  if (old) old->Release();
  return true;
}

}  // namespace kelvro
