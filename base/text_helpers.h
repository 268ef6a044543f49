// Small text helpers shared by the shell and the request core.
#pragma once

#include <string>
#include <vector>

// Remembers the program's arguments (argv[0] included) for JoinedParams().
void SetProgramArguments(int argc, const char* const* argv);

// Parameters 1 to N joined with no separator ("/s" and "/i" give "/s/i").
// Without SetProgramArguments the process's own command line is used.
std::string JoinedParams();
std::string JoinedParams(const std::vector<std::string>& argv);

// Text after the last "." of the whole text (the scan does not stop at "/");
// empty when the text ends in "/" or holds no ".". Case is kept.
std::string UrlExtension(const std::string& url);

// The lines of a text file's content: each ended by CR LF, a lone CR or a
// lone LF; a last line without an end still counts.
std::vector<std::string> SplitLines(const std::string& text);

// A window's place on the screen.
struct FormPlace {
  int left = 0;
  int top = 0;
};

// Left edge at (screenWidth - width) * fx, top edge at (screenHeight -
// height) * fy, each rounded to the nearest integer (halves away from zero).
// fx = fy = 0.5 centres the window.
FormPlace PlaceForm(int screenWidth, int screenHeight, int width, int height, double fx, double fy);
