#pragma once
// quelmar-cli find: which products of the cumulative index show a place, under which light.
#include <string>
#include <vector>

#include "support/IndexSearch.h"

namespace quelmar::cli {

struct FindOptions {
  SearchRequest request;
  std::string indexPath;  // absolute; by default "CUMINDEX.TAB" where the program keeps it
  bool tsv = false;
  bool help = false;
};

// The arguments after "find"; UsageError (command "find") when they cannot be run.
FindOptions ParseFindArguments(const std::vector<std::string>& args);

std::string FindHelp();

// The hits as a readable table, or as tab-separated columns under a header line.
std::string FindResultText(const SearchResult& result, bool tsv);

// Runs "find" with the arguments after it: writes the hits to stdout and the counts (or the
// trouble) to stderr. Status 0 with hits, 1 with none or when the index cannot be read, 2 for a
// usage error.
int RunFindCommand(const std::vector<std::string>& args);

}  // namespace quelmar::cli
