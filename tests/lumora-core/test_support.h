#pragma once
// Shared helpers of the Lumora-Core tests: the process gets its own home folder (so the documents
// location and the settings file are private to it), a non-UTC time zone and a scribe log file.
#include <QString>

#include <string>

namespace lumora_test {

//! The per-process temporary home folder set up by main().
QString homeDir();
//! Everything scribe has written so far (waits for queued lines).
std::string readScribeLog();
//! Writes a category file into the home folder; returns its path.
QString writeFile(const QString& name, const QByteArray& content);
//! Number of times `needle` occurs in `text`.
int countOf(const std::string& text, const std::string& needle);

}  // namespace lumora_test
