// The update description: the INI text the update server answers, kept as ".release".
#pragma once

#include <QString>

struct ReleaseDescription {
  QString number;  // new version text
  QString url;     // address of the new program file
  qint64 length = 0;
  QString md5;  // hexadecimal digest of the program file, any case
};

// Reads "Version/Number", "Version/Url", "Version/Length" and "Version/Md5" from the INI file
// at `path`; missing or malformed values read as empty or 0.
ReleaseDescription ReadReleaseFile(const QString& path);

// Whether the file at `path` is the announced program file: `length` bytes (above 0) whose MD5
// digest is `md5` (hexadecimal, any case).
bool MatchesRelease(const QString& path, qint64 length, const QString& md5);
