// MD5 computed without nettle (the system's own tool or service), to check ours against.
#pragma once

#include <string>

namespace catalogue_test {

std::string independent_md5_hex(const std::string& bytes);

}  // namespace catalogue_test
