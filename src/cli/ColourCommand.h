#pragma once
// The batch tool's colour command: three bands of each product registered into one colour
// picture, saved under the name the window's Save proposes for it.
#include <string>

#include "cli/BatchPort.h"
#include "cli/CliOptions.h"
#include "cli/FileWork.h"
#include "product/LoadedProduct.h"

namespace quelmar::cli {

// Takes one of the colour options (--bands, --reference, --stretch) into `colour`; UsageError
// for a value that cannot be used. Other options are left alone.
void ParseColourOption(const std::string& key, const std::string& value, const std::string& command,
                       ColourOptions& colour);

const char* ColourHelp();

// Builds and saves the colour picture of one loaded product; the message lines give the bands
// and the offsets found. Status 2 for a product with fewer than three bands or without the
// bands asked for, 1 when no picture could be built or saved.
void ColourWork(const CliOptions& options, const std::string& outputFolder,
                const LoadedProduct& product, OutputClaims& claims, BatchPort& port,
                FileResult& result, const std::string& path);

}  // namespace quelmar::cli
