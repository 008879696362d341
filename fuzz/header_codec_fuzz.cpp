// Header blocks from any octets: reading never aborts, its fields are the block's octets in order with
// nothing lost between them, and what the writer accepts reads back as the value written.
#include <string_view>

#include "fuzz_support.hpp"

namespace {

std::string_view viewOf(KX_BUFFER *b) {
  return {reinterpret_cast<const char *>(kxBufferBacking(b)), static_cast<size_t>(kxBufferLength(b))};
}

// The value a reader sees: line ends dropped, SP, HTAB, CR and LF trimmed at both ends.
std::string expectedValue(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value.substr(i, 2) == "\r\n")
      ++i;
    else
      out += value[i];
  }
  const auto trimmed = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!out.empty() && trimmed(out.back())) out.pop_back();
  size_t first = 0;
  while (first < out.size() && trimmed(out[first])) ++first;
  return out.substr(first);
}

void checkRead(KX_BUFFER *input, kxInt offset, MIME_OPTIONS *mo) {
  kxInt bodyOffset = -1;
  fuzz::Ref<MIME_HEADER> header(mimeHeaderDecode(input, offset, mo, &bodyOffset));
  FUZZ_CHECK(bodyOffset >= offset && bodyOffset <= kxBufferLength(input));
  const std::string_view octets = viewOf(input);
  size_t at = static_cast<size_t>(offset);
  for (kxInt i = 0; i < mimeHeaderLength(header.get()); ++i) {
    fuzz::Ref<KX_BUFFER> raw(mimeHeaderRawAt(header.get(), i));
    FUZZ_CHECK(octets.substr(at, static_cast<size_t>(kxBufferLength(raw.get()))) == viewOf(raw.get()));
    at += static_cast<size_t>(kxBufferLength(raw.get()));
    fuzz::Ref<KX_STRING> value(mimeHeaderValueAt(header.get(), i));
    fuzz::Ref<KX_STRING> name(mimeHeaderNameAt(header.get(), i));
    FUZZ_CHECK(kxStringLength(name.get()) > 0);
  }
  FUZZ_CHECK(at <= static_cast<size_t>(bodyOffset));
  for (kxInt i = 0; i < mimeHeaderDefectsLength(header.get()); ++i) {
    const MIME_DEFECT defect = mimeHeaderDefectAt(header.get(), i);
    FUZZ_CHECK(MIME_DEFECT_KIND_OK(defect.kind) && defect.offset >= offset && defect.offset <= bodyOffset);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
  mimeOptionsSetReaderLimit(mo.addr(), MIME_READER_LIMIT_HEADER_FIELDS,
                            in.ConsumeIntegralInRange<kxInt>(0, 20));
  const std::string name = in.ConsumeRandomLengthString(16);
  const std::string value = in.ConsumeRandomLengthString(64);
  const std::string block = in.ConsumeRemainingBytesAsString();
  fuzz::Ref<KX_BUFFER> input(fuzz::bufferFrom(block));
  checkRead(input.get(), static_cast<kxInt>(block.size() / 3), mo.get());

  fuzz::Ref<MIME_HEADER> header(mimeHeaderCreate());
  fuzz::Ref<KX_STRING> nameText(fuzz::stringFromUtf8(name));
  fuzz::Ref<KX_STRING> valueText(fuzz::stringFromUtf8(value));
  if (!mimeHeaderTryAppend(header.addr(), nameText.get(), valueText.get())) return 0;
  fuzz::Ref<KX_BUFFER> written(mimeHeaderEncode(header.get()));
  fuzz::Ref<MIME_OPTIONS> defaults(mimeOptionsCreate());  // the fuzzed field limit may be 0
  fuzz::Ref<MIME_HEADER> back(mimeHeaderDecode(written.get(), 0, defaults.get(), nullptr));
  FUZZ_CHECK(mimeHeaderLength(back.get()) == 1 && mimeHeaderDefectsLength(back.get()) == 0);
  fuzz::Ref<KX_STRING> readName(mimeHeaderNameAt(back.get(), 0));
  FUZZ_CHECK(kxStringEquals(readName.get(), nameText.get()));
  fuzz::Ref<KX_BUFFER> valueOctets(kxCharsetConvertStringToBuffer(valueText.get(), KX_CHARSET_UTF_8));
  const std::string expected = expectedValue(viewOf(valueOctets.get()));
  fuzz::Ref<KX_STRING> readValue(mimeHeaderValueAt(back.get(), 0));
  FUZZ_CHECK(kxStringEqualsCstr(readValue.get(), expected.data(), static_cast<kxInt>(expected.size())));
  return 0;
}
