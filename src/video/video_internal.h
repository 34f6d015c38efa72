// Internal seams of the pixel converter, reached by tests through the static archive.
#ifndef NXUTIL_VIDEO_INTERNAL_H
#define NXUTIL_VIDEO_INTERNAL_H

#include <string>

namespace nxvideo {

/// Where later RGBScale::init calls look for the scaler: in `folder` (empty: this library's
/// own folder) and then, when `systemSearch`, by file name through the system loader's search.
/// The default is ("", true).
void setScalerSearch(const std::u16string& folder, bool systemSearch);

/// The scaler file names init tries, in order, for the current search settings.
std::u16string scalerCandidates();

}  // namespace nxvideo

#endif
