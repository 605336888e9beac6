#include "layout_table.h"

namespace dorq {

namespace {
using K = ControlKind;
// The window ends it with where the operator's guide is.
constexpr const char *Description =
    "Dit programma emuleert een DORQ-Modicon-PLC pulsgenerator voor test doeleinden. "
    "Verbind het  DORQ-tijdkoppel mechanisme met een Null-modem seriele kabel met deze PC en "
    "druk op de Kanaal-x knoppen. Meer info ";
} // namespace

// clang-format off
const std::array<ControlEntry, 18> FormLayout = {{
    // name          index kind        container  text                        left   top  width height tab
    {"Label3",       -1, K::Label,  nullptr,  Description,                 120,  120, 3615, 1215, 16},
    {"Frame1",       -1, K::Frame,  nullptr,  "Uitvoer karakteristieken",  120, 1440, 2775,  975,  0},
    {"Option1",      -1, K::Option, "Frame1", "COM1",                      480,  240,  975,  255,  7},
    {"Option2",      -1, K::Option, "Frame1", "COM2",                     1560,  240,  855,  255,  8},
    {"Label2",       -1, K::Label,  "Frame1", "",                          240,  600, 2415,  255, 15},
    {"Label1",       -1, K::Label,  nullptr,  "Uitvoer naar de comport",   120, 2520, 2295,  255, 14},
    {"Text1",        -1, K::TextBox, nullptr, "",                          120, 2760, 2175,  285, 13},
    {"Label4",       -1, K::Label,  nullptr,  "",                         2280, 2760, 1455,  375, 17},
    {"Frame2",       -1, K::Frame,  nullptr,  "Testknoppen",               120, 3240, 3615, 4455,  1},
    {"MSFlexGrid1",  -1, K::Grid,   "Frame2", "",                          120,  480, 1455, 3735, 12},
    {"Command1",      0, K::Button, "Frame2", "Kanaal 1",                 1800,  360, 1575,  375,  2},
    {"Command1",      1, K::Button, "Frame2", "Kanaal 2",                 1800,  840, 1575,  375,  3},
    {"Command1",      2, K::Button, "Frame2", "Kanaal 3",                 1800, 1320, 1575,  375,  4},
    {"Command1",      3, K::Button, "Frame2", "Kanaal 4",                 1800, 1800, 1575,  375,  5},
    {"Command1",      4, K::Button, "Frame2", "Kanaal 5",                 1800, 2280, 1575,  375,  6},
    {"Command1",      5, K::Button, "Frame2", "Kanaal 6",                 1800, 2760, 1575,  375,  9},
    {"Command1",      6, K::Button, "Frame2", "Kanaal 7",                 1800, 3240, 1575,  375, 10},
    {"Command1",      7, K::Button, "Frame2", "Kanaal 8",                 1800, 3720, 1575,  375, 11},
}};
// clang-format on

} // namespace dorq
