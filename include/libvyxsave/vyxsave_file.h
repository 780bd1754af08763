/*
 * The fingerprint of a text that outlives one run: the digest of the six
 * settings (vyxsettings' ETag and --if-unchanged) and the "made" line of
 * descriptions written by earlier versions of the history.
 */
#ifndef VYXSAVE_FILE_H
#define VYXSAVE_FILE_H

#include <string>

namespace vyxsave {

/*
 * A short fingerprint of content (16 hex digits, FNV-1a 64): tells whether
 * two texts hold the same bytes. Not a defence against a forger.
 */
std::string ContentDigest(const std::string &content);

} /* namespace vyxsave */

#endif
