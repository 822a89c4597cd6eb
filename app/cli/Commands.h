// Every command of corvane-cli, in the order the usage text lists them. A new command is a new
// file that defines its SCommand, and its line in the table below.
#pragma once

#include "app/cli/Command.h"

namespace Branwick::Cli {

extern const SCommand kScanCommand, kFixCommand, kBackupsCommand, kIgnoreCommand,
    kHistoryCommand, kStartupCommand, kSettingsCommand, kScheduleCommand, kFormatCommand,
    kProcessesCommand, kTargetsCommand, kRecoverCommand;

inline const SCommand* const kCommands[] = {
    &kScanCommand,     &kFixCommand,      &kBackupsCommand,  &kIgnoreCommand,  &kHistoryCommand,
    &kStartupCommand,  &kSettingsCommand, &kScheduleCommand, &kFormatCommand,  &kProcessesCommand,
    &kTargetsCommand,  &kRecoverCommand,
};

}  // namespace Branwick::Cli
