#pragma once

#include "error.h"

#include <QString>

// The program's words for people, in Dutch, made from values: shared by both front ends,
// each of which adds advice in its own terms.
namespace dorq {

enum class FrontEnd { Window, Console };

inline const QString SelectPortWarning = QStringLiteral("Selecteer een comport !!!!");

// "PLC op COM1 9600,O,8,1"
QString portStatus(int port);

// What failed on which device or file, with the system's own words for why:
// "Kan /dev/ttyUSB0 niet openen: Permission denied". For a journal replaced, what happened.
QString errorText(const Error &error);
// What to do about it, in the front end's terms and the platform's; empty where the
// operator can do nothing about it.
QString adviceFor(const Error &error, FrontEnd frontEnd);
// Both, as a message box or standard error shows them: the text, a blank line, the advice.
QString errorMessage(const Error &error, FrontEnd frontEnd);

struct ProgramError;
struct PlaySummary;
// What is wrong on a line of a pulse program: "regel 3: kanaal \"9\" bestaat niet; ...".
QString programErrorText(const ProgramError &error);
// A program or journal file that cannot be read.
QString programFileText(const Error &error);
// One line at the end of a play: what went, what did not, and how late.
QString playSummaryText(const PlaySummary &summary);

// The text as one line of output: line breaks and other control characters, which could
// come with an echoed command or a device name, written as \r, \n, \t or \xNN, so that a
// script reading one answer per line stays in step; so are the bytes of a name that is not
// UTF-8 (see displayPath).
QString oneLine(const QString &text);

} // namespace dorq
