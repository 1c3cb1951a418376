#include "app/command_line.h"

#include <array>
#include <string_view>

namespace morvel {
namespace {

// The toolkit's documented command-line options (QGuiApplication and
// QApplication, the X11 ones included); the toolkit accepts them with one dash
// or two.
enum class Value {
    None,
    Required,
    InlineOnly
};
struct ToolkitOption {
    std::string_view name;
    Value value;
};
constexpr std::array<ToolkitOption, 20> kToolkitOptions{{
    {"platform", Value::Required},
    {"platformpluginpath", Value::Required},
    {"platformtheme", Value::Required},
    {"plugin", Value::Required},
    {"qwindowgeometry", Value::Required},
    {"qwindowicon", Value::Required},
    {"qwindowtitle", Value::Required},
    {"session", Value::Required},
    {"display", Value::Required},
    {"geometry", Value::Required},
    {"style", Value::Required},
    {"stylesheet", Value::Required},
    {"qmljsdebugger", Value::InlineOnly},
    {"dialogs", Value::InlineOnly},
    {"fontengine", Value::InlineOnly},
    {"reverse", Value::None},
    {"widgetcount", Value::None},
    {"nograb", Value::None},
    {"dograb", Value::None},
    {"sync", Value::None},
}};

const ToolkitOption* findToolkitOption(std::string_view name)
{
    for (const ToolkitOption& option : kToolkitOptions) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

CommandLine usageError(std::string message)
{
    CommandLine line;
    line.action = CommandLine::Action::UsageError;
    line.error = std::move(message);
    return line;
}

// The window options the converter shares: --match, --columns, --invert,
// --color (--colour). `value` is the next argument or the part after '=';
// returns what is wrong with it, empty when taken, and sets `usedValue`.
std::string takeWindowOption(std::string_view name, const char* value, CommandLine& line, bool& usedValue)
{
    usedValue = false;
    if (name == "invert") {
        line.settings.invert = true;
        line.invertGiven = true;
        return {};
    }
    if (name == "color" || name == "colour") {
        line.settings.colour = true;
        return {};
    }
    if (value == nullptr)
        return "option --" + std::string(name) + " needs a value";
    usedValue = true;
    const std::string_view v = value;
    if (name == "match") {
        if (v == "tone") {
            line.settings.tone = true;
        } else if (v == "difference") {
            line.difference = true;
        } else if (v != "correlation") {
            return "--match takes correlation, difference or tone, not " + std::string(v);
        }
        return {};
    }
    // --columns natural|fit|N
    if (v == "natural") {
        line.settings.width = WindowSettings::Width::Natural;
    } else if (v == "fit") {
        line.settings.width = WindowSettings::Width::Fit;
    } else {
        int32_t n = 0;
        bool digits = !v.empty() && v.size() <= 6;
        for (char c : v) {
            digits = digits && c >= '0' && c <= '9';
            n = digits ? n * 10 + (c - '0') : 0;
        }
        if (!digits || n < kMinColumns || n > kMaxColumns)
            return "--columns takes natural, fit or a number from " + std::to_string(kMinColumns) + " to " +
                   std::to_string(kMaxColumns) + ", not " + std::string(v);
        line.settings.width = WindowSettings::Width::Columns;
        line.settings.columns = n;
    }
    return {};
}

bool isWindowOption(std::string_view name)
{
    return name == "match" || name == "columns" || name == "invert" || name == "color" || name == "colour";
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    line.toolkitArguments.emplace_back(argc > 0 && argv[0] != nullptr ? argv[0] : "morvel");
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (!isOption) {
            if (!line.picture.empty())
                return usageError("only one picture can be named: " + std::string(arg));
            if (arg.empty())
                return usageError("the picture name is empty");
            line.picture = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            line.action = CommandLine::Action::Help;
            return line;
        }
        if (arg == "--version" || arg == "-v") {
            line.action = CommandLine::Action::Version;
            return line;
        }
        std::string_view name = arg.substr(arg[1] == '-' ? 2 : 1);
        const size_t equals = name.find('=');
        const bool inlineValue = equals != std::string_view::npos;
        if (inlineValue)
            name = name.substr(0, equals);
        if (arg[1] == '-' && isWindowOption(name)) {
            const std::string valued = inlineValue ? std::string(arg.substr(2 + equals + 1)) : std::string();
            const char* value = inlineValue ? valued.c_str() : (i + 1 < argc ? argv[i + 1] : nullptr);
            const bool flag = name == "invert" || name == "color" || name == "colour";
            if (flag && inlineValue)
                return usageError("option --" + std::string(name) + " takes no value");
            bool usedValue = false;
            const std::string wrong = takeWindowOption(name, flag ? nullptr : value, line, usedValue);
            if (!wrong.empty())
                return usageError(wrong);
            if (usedValue && !inlineValue)
                ++i;
            continue;
        }
        const ToolkitOption* option = findToolkitOption(name);
        if (option == nullptr || (option->value == Value::None && inlineValue))
            return usageError("unknown option " + std::string(arg));
        const bool valueFollows = option->value != Value::None && !inlineValue;
        if (valueFollows && (option->value == Value::InlineOnly || i + 1 >= argc))
            return usageError("option " + std::string(arg) + " needs a value");
        line.toolkitArguments.emplace_back(arg);
        if (valueFollows)
            line.toolkitArguments.emplace_back(argv[++i]);
    }
    return line;
}

std::string helpText()
{
    return "Usage: morvel [options] [PICTURE]\n"
           "\n"
           "Opens the Morvel window, which turns a picture (GIF, JPEG, PNG, WebP, HEIC,\n"
           "AVIF, TIFF or BMP) into text art. With PICTURE, the window loads it as if\n"
           "it had been dropped on it.\n"
           "\n"
           "Options (they set the window's controls; the converter morvel-text takes\n"
           "the same names):\n"
           "  --match correlation|difference|tone\n"
           "                 match type: the toggle button (difference: pressed) or\n"
           "                 the Tone box; default correlation\n"
           "  --columns natural|fit|N\n"
           "                 text width: one picture pixel per font pixel (default),\n"
           "                 the text box's width, or N columns (8 to 10000)\n"
           "  --invert       match the inverted picture, light text on a dark box\n"
           "                 (on by itself under a dark theme)\n"
           "  --color        show each character in its picture colour\n"
           "  -h, --help     print this help and exit\n"
           "  --version      print the version and exit\n"
           "  --             end of options; the next argument is the picture\n"
           "\n"
           "The toolkit's own options (-platform, -style, -display, -geometry, -reverse\n"
           "and the others of Qt) are passed on to it.\n"
           "\n"
           "In the window: drop a picture anywhere on it, or press Ctrl+O to open one;\n"
           "the T button (Generate) writes the text art into the text box.\n"
           "\n"
           "Keys:\n"
           "  Ctrl+O               open a picture\n"
           "  F5, Ctrl+Return      generate the text image\n"
           "  Ctrl+S               save the text as plain text (LF) or, for a name\n"
           "                       ending in .html or .htm, as an HTML page\n"
           "  Ctrl+C               copy the selection\n"
           "  Ctrl+Shift+C         copy all the text (also in the text box's menu)\n"
           "  Ctrl+plus, Ctrl+minus, Ctrl+0, Ctrl+wheel\n"
           "                       zoom the text box's view in, out, back to 100%\n"
           "  Tab, Shift+Tab       move between the buttons, the slider, the controls\n"
           "                       and the text box\n"
           "See morvel(1).\n";
}

std::string versionText()
{
    return std::string("morvel ") + MORVEL_VERSION + "\n";
}

}  // namespace morvel
