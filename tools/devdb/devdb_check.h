// Checks a device database document against the schema that the device detector reads, so that
// a mistake in the source fails the build instead of silently matching nothing.
#pragma once

#include "qv/xml.h"

#include <string>
#include <vector>

namespace devdb {

struct CheckResult {
  std::vector<std::string> errors;
  std::size_t vendor_count = 0;
  std::size_t device_count = 0;
};

// root: the document element.
CheckResult Check(const qv::xml::element_ptr& root);

}  // namespace devdb
