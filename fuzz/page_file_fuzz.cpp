// The image loader and the build text reader: whatever a package folder holds under those names.
// The first input byte picks the page size.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "package/page_file.h"
#include "package/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static veltr::fuzz::ScratchFile file("page");
  if (size == 0) {
    return 0;
  }
  const uint32_t pageSize = data[0] == 0 ? 0 : (data[0] % 2 == 0 ? 256u : data[0]);
  const std::string& path = file.Write(data + 1, size - 1);
  veltr::CVeltrPageFile pages(pageSize);
  if (pages.Load(path, 64 * 1024)) {
    static_cast<void>(pages.ByteSum());
  }
  veltr::CVeltrTextFile text;
  if (text.Open(path)) {
    static_cast<void>(text.ReadHead());
  }
  return 0;
}
