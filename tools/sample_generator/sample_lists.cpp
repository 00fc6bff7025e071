// Text list payloads of the sample content.
#include "sample_lists.h"

#include "code_page_text.h"
#include "node_writer.h"

std::vector<std::string> SplitSampleList(std::string_view list) {
  std::vector<std::string> elements;
  while (!list.empty()) {
    const std::size_t separator = list.find(';');
    elements.push_back(Cp1251FromUtf8(list.substr(0, separator)));
    list = separator == std::string_view::npos ? std::string_view{} : list.substr(separator + 1);
  }
  return elements;
}

std::string ListOrEmptyPayload(std::string_view list) {
  return TextListPayload(SplitSampleList(list));
}

std::string TextOrListPayload(std::string_view list) {
  const std::vector<std::string> elements = SplitSampleList(list);
  if (elements.size() == 1) return TextPayload(elements.front());
  return TextListPayload(elements);
}
