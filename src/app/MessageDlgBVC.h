#pragma once

#include "core/Dialogs.h"

#include <QString>
#include <QStringList>

namespace bv::app {

// The file, in the program folder, that remembers which questions the user
// switched off.
inline constexpr const char* kWarningsFileName = "BrevicastWarnings.ini";

// The keys of the questions that can be switched off.
inline constexpr const char* kRedoMsg = "RedoMsg";
inline constexpr const char* kSkipMsg = "SkipMsg";
inline constexpr const char* kRtdFileMsg = "RtdFileMsg";

QStringList warningKeys();

// The text the question of a key shows; empty for a key that has none.
QString questionText(const QString& key);

// Whether the question of key is switched off ("BrevicastWarnings.ini" holds
// a non-zero number for it). programFolder ends with "/".
bool isQuestionSuppressed(const QString& programFolder, const QString& key);

// Writes one key, keeping the others. Returns false with "Unable to write to "
// + the file in *error when the file cannot be written.
bool setQuestionSuppressed(const QString& programFolder, const QString& key, bool suppressed,
                           QString* error = nullptr);

// The question of key: Yes without asking while it is switched off; otherwise
// the question dialog, after which the state of "Don't ask me this question
// again." is written back, whatever the answer.
Answer AskQuestion(Dialogs& dialogs, const QString& programFolder, const QString& key);

// Help menu "R&eset Warnings": every question is asked again.
void ResetWarnings(Dialogs& dialogs, const QString& programFolder);

} // namespace bv::app
