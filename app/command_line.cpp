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
           "Options:\n"
           "  -h, --help     print this help and exit\n"
           "  --version      print the version and exit\n"
           "  --             end of options; the next argument is the picture\n"
           "\n"
           "The toolkit's own options (-platform, -style, -display, -geometry, -reverse\n"
           "and the others of Qt) are passed on to it.\n"
           "\n"
           "In the window: drop a picture anywhere on it, or press Ctrl+O to open one;\n"
           "the T button (Generate) writes the text art into the text box, and Ctrl+S\n"
           "saves the text box's text to a file. See morvel(1).\n";
}

std::string versionText()
{
    return std::string("morvel ") + MORVEL_VERSION + "\n";
}

}  // namespace morvel
