// A session as people and programs receive it: the table on the terminal, the table as
// CSV, and everything as JSON, with the names that spreadsheets and tools rely on.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "photo/cli/session.h"

namespace velmaro::photo {

// The columns of the CSV and the rows' names in JSON, in order.
std::vector<std::string> RowNames();

// "Camera: Make Model; taken 2024-05-01 10:00:00; tolerance +-0.33 stops".
std::string SessionFacts(const std::vector<Shot>& shots, double toleranceStops);
// The table with the camera, the tolerance, and below it the shots that gave no
// reading, each with its reason.
std::string SessionTable(const std::vector<Shot>& shots, const std::vector<Row>& rows, double toleranceStops);
std::string SessionCsv(const std::vector<Row>& rows);
// The rows, and every shot with its reading.
nlohmann::ordered_json SessionJson(const std::vector<Shot>& shots, const std::vector<Row>& rows, double toleranceStops);

// The table for people: its headings, and a row's cells as they read them ("4.02 ms",
// "+0.07"); a speed whose count of refreshes the marked speed chose is marked " *".
std::vector<std::string> TableHeadings();
std::vector<std::string> TableCells(const Row& row);
constexpr std::size_t kResultColumn = 9, kFirstCurtainColumn = 10;
// How many of the columns to show: the curtains' only where a row has them.
std::size_t TableColumns(const std::vector<Row>& rows);
// What the " *" says.
constexpr char kCountFromMarked[] =
    "the photograph left the count of refreshes open: the one nearest the marked speed was taken";

// A time as people read it: "4.02 ms", "1.00 s".
std::string Duration(double seconds);
// A number with a fixed count of decimals, "0.33", and with its sign, "+0.07".
std::string Fixed(double value, int decimals);
std::string Signed(double value, int decimals);

}  // namespace velmaro::photo
