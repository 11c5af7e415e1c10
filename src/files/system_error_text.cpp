// errno values as the words of this program's messages, the same on every system.
#include "files/system_error_text.h"

#include <cerrno>
#include <cstring>

namespace zephor::files {

std::string ErrnoText(int error) {
  switch (error) {
    case ENOSPC:
      return "the disk is full";
#ifdef EDQUOT
    case EDQUOT:
      return "the disk quota is used up";
#endif
    case EACCES:
    case EPERM:
      return "access denied";
    case EROFS:
      return "the disk is read-only";
    case ENOENT:
      return "no such file or folder";
    case EISDIR:
      return kIsFolderText;
    case EFBIG:
      return "the file is larger than this system allows";
    case EIO:
      return "the disk failed to read or write";
    case EEXIST:
      return kInTheWayText;
    default:
      return std::strerror(error);
  }
}

std::string ErrorCodeText(const std::error_code& error) {
  const std::error_condition portable = error.default_error_condition();
  if (portable.category() == std::generic_category()) return ErrnoText(portable.value());
  return error.message();
}

std::string TooLargeText(std::uint64_t limit) {
  return "it is larger than " + std::to_string(limit) + " bytes";
}

}  // namespace zephor::files
