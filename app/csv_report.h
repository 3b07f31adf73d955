// The unattended run's report: its rows as CSV.
#pragma once

#include "app/console_view.h"

#include <string>
#include <vector>

// One CSV field (RFC 4180): quoted when it holds a comma, a quote or a line
// end. A file name is anyone's to choose, and a spreadsheet runs a field that
// begins with = + - @, a tab or a carriage return as a formula: such a field
// starts with ' instead, as spreadsheet-safe exports do.
std::wstring csvField(const std::wstring& field);

// The rows as CSV in UTF-8 behind its byte-order mark, CR LF line ends.
std::string reportBytes(const std::vector<CConsoleView::Row>& rows);
