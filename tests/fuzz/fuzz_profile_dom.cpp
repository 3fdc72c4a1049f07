// The profile document below the settings layer, on arbitrary bytes: the encoding codec, the
// markup scanner and the byte-preserving document. Checks what the settings rely on:
// - decoded text encodes back to exactly the file's bytes;
// - the scanner's elements are properly nested tags within the text;
// - a save that reports success reads back with the changed text, and the element the
//   change did not touch reads back as before.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/source_preserving_dom.h"
#include "settings/text_codec.h"
#include "settings/xml_source_map.h"
#include "tests/fuzz/scratch_file.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckElements(const std::string& text, const std::vector<kelvro::SourceElement>& elements) {
  Check(!elements.empty() && elements[0].parent == -1);
  for (size_t i = 0; i < elements.size(); ++i) {
    const auto& e = elements[i];
    Check(!e.name.empty());
    Check(e.start < e.open_end && e.open_end <= e.close_start && e.close_start <= e.end);
    Check(e.end <= text.size() && text[e.start] == '<' && text[e.end - 1] == '>');
    Check(e.self_closing == (e.close_start == e.open_end && e.end == e.open_end));
    if (i > 0) {
      Check(e.parent >= 0 && static_cast<size_t>(e.parent) < i);
      const auto& p = elements[e.parent];
      Check(p.open_end <= e.start && e.end <= p.close_start);
    }
    size_t last_end = e.open_end;
    for (int c : e.children) {
      Check(c > static_cast<int>(i) && static_cast<size_t>(c) < elements.size());
      Check(elements[c].parent == static_cast<int>(i) && elements[c].start >= last_end);
      last_end = elements[c].end;
    }
  }
}

std::string TextOf(kelvro::SourcePreservingDom& dom, kelvro::XmlNode element) {
  std::string text;
  Check(dom.GetText(element, text));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvro;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  const SourceEncoding encoding = DetectEncoding(bytes);
  std::string working;
  if (DecodeSource(bytes, encoding, working)) {
    Check(EncodeSource(working, encoding) == bytes);
    std::vector<SourceElement> elements;
    if (MapSourceElements(working, elements)) CheckElements(working, elements);
  }

  SourcePreservingDom dom;
  if (dom.LoadBytes(bytes) != XmlLoadOutcome::kLoaded) return 0;
  const XmlNode root = dom.DocumentElement();
  Check(static_cast<bool>(root));
  // The first existing child keeps its text; a new or existing "Kelvro" child takes ours.
  const XmlNode first = dom.FindChild(root, "Preferences");
  const std::string first_text = first ? TextOf(dom, first) : std::string();
  XmlNode ours = dom.FindChild(root, "Kelvro");
  if (!ours) ours = dom.AppendNewElement(root, "Kelvro");
  if (!ours) return 0;
  const std::string value = size % 2 ? "12.5 <&> \"x\"" : "";
  if (!dom.SetText(ours, value)) return 0;
  Check(TextOf(dom, ours) == value);
  static const std::string path = kelvro::fuzz::ScratchPath("dom");
  if (dom.Save(path)) {
    SourcePreservingDom again;
    Check(again.Load(path) == XmlLoadOutcome::kLoaded);
    const XmlNode again_root = again.DocumentElement();
    Check(static_cast<bool>(again_root));
    const XmlNode again_ours = again.FindChild(again_root, "Kelvro");
    Check(static_cast<bool>(again_ours) && TextOf(again, again_ours) == value);
    if (first) {
      const XmlNode again_first = again.FindChild(again_root, "Preferences");
      Check(static_cast<bool>(again_first) && TextOf(again, again_first) == first_text);
    }
  }
  std::remove(path.c_str());
  return 0;
}
