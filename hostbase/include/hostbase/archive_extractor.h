// The archive extractor as the base layer sees it. The extractor itself belongs to a service
// module above this layer; start-up hands it in once, and the work items and the driver
// installation call it through here.
#pragma once

#include <string>

namespace hostbase {

// Extracts every entry of archive below folder; false when the archive cannot be opened or an
// entry could not be extracted.
using ArchiveExtractor = bool (*)(const std::u16string& archive, const std::u16string& folder);

// Set once at start-up (before any work is queued); null removes it.
void SetArchiveExtractor(ArchiveExtractor extractor);
// False when no extractor has been set.
bool ExtractArchive(const std::u16string& archive, const std::u16string& folder);

}  // namespace hostbase
