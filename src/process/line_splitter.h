// Bytes from a pipe or a terminal as they come, cut into lines. A line ends with a line feed, or
// with a carriage return and a line feed (what Windows' text mode writes for one).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zephor::process {

class LineSplitter {
 public:
  // Appends the lines data completes.
  void Take(const char* data, std::size_t size, std::vector<std::string>& lines) {
    partial_.append(data, size);
    std::size_t start = 0;
    for (std::size_t end = partial_.find('\n'); end != std::string::npos;
         end = partial_.find('\n', start)) {
      const std::size_t length =
          end > start && partial_[end - 1] == '\r' ? end - start - 1 : end - start;
      lines.push_back(partial_.substr(start, length));
      start = end + 1;
    }
    partial_.erase(0, start);
  }
  // The stream ended: what follows its last line feed is a line too.
  void End(std::vector<std::string>& lines) {
    if (!partial_.empty()) lines.push_back(std::move(partial_));
    partial_.clear();
  }

 private:
  std::string partial_;
};

}  // namespace zephor::process
