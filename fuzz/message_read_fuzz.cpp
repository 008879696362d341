// The message reader on any octets: never aborts, every part lies inside its parent, bodies lie inside
// their parts, defects are of known kinds, every body decodes, and every header text reads; read part by
// part, it hands over the same parts with the same defects, and nothing after a visitor stops it.
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "part_visits.hpp"

namespace {

void check(MIME_PART *part, kxInt parentStart, kxInt parentEnd, MIME_OPTIONS *mo) {
  const kxInt start = mimePartOffset(part), end = start + mimePartLength(part);
  FUZZ_CHECK(parentStart <= start && start <= end && end <= parentEnd);
  FUZZ_CHECK(start <= mimePartBodyOffset(part) && mimePartBodyOffset(part) <= end);
  for (kxInt i = 0; i < mimePartDefectsLength(part); ++i) {
    FUZZ_CHECK(MIME_DEFECT_KIND_OK(mimePartDefectAt(part, i).kind));
  }
  fuzz::Ref<MIME_CONTENT_TYPE> type(mimePartContentType(part));
  FUZZ_CHECK(type);
  fuzz::Ref<KX_STRING> name(mimePartFileName(part));
  fuzz::Ref<KX_STRING> disposition(mimePartDisposition(part));
  fuzz::Ref<MIME_CONTENT_DISPOSITION> read(mimePartContentDisposition(part));
  FUZZ_CHECK(!disposition == !read);
  fuzz::Ref<MIME_HEADER> header(mimePartHeader(part));
  fuzz::Ref<KX_STRING> subject(mimeHeaderTextCstr(header.get(), "Subject", -1));
  MIME_DEFECT defect;
  fuzz::Ref<KX_BUFFER> decoded(mimePartDecodeBody(part, mo, &defect));
  FUZZ_CHECK(decoded && (defect.kind == -1 || MIME_DEFECT_KIND_OK(defect.kind)));
  for (kxInt i = 0; i < mimePartChildrenLength(part); ++i) {
    fuzz::Ref<MIME_PART> child(mimePartChildAt(part, i));
    check(child.get(), mimePartBodyOffset(part), end, mo);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
  mimeOptionsSetReaderLimit(mo.addr(), MIME_READER_LIMIT_DEPTH, in.ConsumeIntegralInRange<kxInt>(0, 8));
  mimeOptionsSetReaderLimit(mo.addr(), MIME_READER_LIMIT_PARTS, in.ConsumeIntegralInRange<kxInt>(0, 64));
  if (in.ConsumeBool()) mimeOptionsSetFlags(mo.addr(), 0);  // RFC 2231 parameters left as written
  const size_t stopAt = in.ConsumeIntegralInRange<size_t>(0, 16);
  fuzz::Ref<KX_BUFFER> message(fuzz::bufferFrom(in.ConsumeRemainingBytesAsString()));
  fuzz::Ref<MIME_PART> root(mimeMessageRead(message.get(), mo.get()));
  check(root.get(), 0, kxBufferLength(message.get()), mo.get());
  std::vector<std::string> expected;
  part_visits::expectedVisits(root.get(), 0, &expected);
  part_visits::Visits visits{{}, stopAt};
  const bool whole = mimeMessageReadEach(message.get(), mo.get(), part_visits::Visits::record, &visits);
  const bool stopped = stopAt != 0 && stopAt <= expected.size();
  FUZZ_CHECK(whole == !stopped);
  if (stopped) expected.resize(stopAt);
  FUZZ_CHECK(visits.lines == expected);
  return 0;
}
