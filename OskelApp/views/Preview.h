#pragma once

#include <filesystem>
#include <ostream>

namespace oskel::views {

// "--preview DIR": PNG images of the main and onboarding windows in their
// typical states, over a model with scripted orchestrators and no devices,
// network or secrets of the user's. Writes "wrote PATH" per file; 0 on
// success, 1 when the folder or a file cannot be written.
int writePreviews(const std::filesystem::path& folder, std::ostream& out, std::ostream& err);

}  // namespace oskel::views
