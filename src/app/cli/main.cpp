// mobivert-cli: the command-line front end. It converts files with the same presets, output
// choices and conversion driver as the window, for scripts and machines without a display.

#include "app/cli/BatchCommand.h"
#include "app/cli/CliOptions.h"
#include "app/cli/InfoCommand.h"
#include "app/cli/PresetCommands.h"
#include "app/cli/TerminalText.h"
#include "app/shared/HeapPolicy.h"

#include <cstdio>
#include <string>

using namespace mobivert;
using cli::PrintableLine;
using cli::WriteLine;

int main(int argc, char** argv) {
    app::KeepLargeBuffersOffTheHeap();
    cli::TCliOptions options;
    std::string error;
    if (!cli::ParseCommandLine(argc, argv, options, error)) {
        WriteLine(stderr, "mobivert-cli: " + PrintableLine(error));
        WriteLine(stderr, "Try 'mobivert-cli --help'.");
        return 2;
    }
    switch (options.Command) {
    case cli::TCommand::Version:
        return cli::PrintLibraryVersions();
    case cli::TCommand::Help:
        std::fputs(cli::UsageText().c_str(), stdout);
        return 0;
    case cli::TCommand::ListPresets:
        return cli::ListPresets(options);
    case cli::TCommand::SavePreset:
        return cli::SaveUserPreset(options);
    case cli::TCommand::ImportPreset:
        return cli::ImportUserPreset(options);
    case cli::TCommand::ExportPreset:
        return cli::ExportUserPreset(options);
    case cli::TCommand::Info:
        return cli::Info(options);
    case cli::TCommand::Resume:
        return cli::Resume(options);
    case cli::TCommand::Convert:
        break;
    }
    return cli::Convert(options);
}
