#pragma once
// The travel command, and the measured travels of "stack --vertical-travel auto" and
// "--travel-profile": thin callers of MeasureTravel.
#include <cstdint>
#include <string>

#include "assembly/PictureBuilder.h"
#include "cli/BatchPort.h"
#include "cli/CliOptions.h"
#include "cli/FileWork.h"
#include "product/LoadedProduct.h"

namespace quelmar::cli {

// The header line of the travel command's --tsv output.
std::string TravelTsvHeader();

// Measures the travel of the chosen band(s) of a loaded product and writes one line for each.
void TravelWork(const CliOptions& options, const LoadedProduct& product, BatchPort& port,
                FileResult& result, const std::string& path);

// For a stack with a travel to measure: measures it with the stack's options, puts it into the
// request, and writes "Travel used: ..." saying which travels the stack uses. False, with a
// note and status 1, when it is not found.
bool ApplyMeasuredTravel(const CliOptions& options, const LoadedProduct& product, int32_t band,
                         PictureRequest& request, BatchPort& port, FileResult& result,
                         const std::string& path);

}  // namespace quelmar::cli
