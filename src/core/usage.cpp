#include "core/usage.h"

#include <cstdio>

#include "core/app.h"
#include "core/optiontable.h"
#include "platform/paths.h"

namespace kx {

TkxInfoRequest InfoRequestOf(const std::string& param) {
  if (param == "--help" || param == "-h" || param == "-H" || param == "-?") return TkxInfoRequest::Help;
  if (param == "--version") return TkxInfoRequest::Version;
  if (param.rfind("--", 0) == 0) return TkxInfoRequest::Unknown;
  return TkxInfoRequest::None;
}

static std::string Line(const char* format, const std::string& a, const std::string& b, const std::string& c = "") {
  char buf[512];
  std::snprintf(buf, sizeof buf, format, a.c_str(), b.c_str(), c.c_str());
  return buf;
}

std::string HelpText(const std::string& exeName, const TkxEditionProfile& profile) {
  std::string me = ExtractFileName(exeName);
  std::string pages = profile.Edition == kPngEdition ? "PNG image" : "EMF metafile";
  std::string t;
  t += profile.Title + " " + kVersion + ": turns .doc and .docx documents into one " + pages + " per page.\n\n";
  t += "Usage:\n";
  t += Line("  %s %-30s opens the window with the default project\n", me, "");
  t += Line("  %s %-30s opens a project in the window\n", me, "PROJECT" + profile.ProjectExt);
  t += Line("  %s %-30s opens them in the window; without a display converts them\n", me, "DOCUMENT|FOLDER|. ...");
  t += Line("  %s %-30s the job's options; \",\" and \";\" separate them\n", me, "\"-P:Key=Value,Key=Value...\"");
  t += Line("  %s %-30s the diagnostic trace on standard error (also Trace=)\n", me, "-v|--verbose ...");
  t += Line("  %s %-30s this text; --version: name, edition, version\n", me, "-h|--help");
  t += Line("  %s %-30s installer notices (open the product's web page)\n", me, "-I...|-U");
  t += "\nSource: a path that names a file is that file, whatever it holds; a folder is searched\n"
       "with *.doc?; a folder and a mask (/docs/*.doc?); an http:// or https:// address; a file:\n"
       "address; several of them each in double quotes (\"/docs/a.doc\" \"/more docs\").\n\n"
       "A console run (PureConsole=1) reports on standard error: a progress line when that is a\n"
       "terminal, failed documents and a summary line at the end. It stops before the first\n"
       "document when a source is missing, IsOverwrite, DeleteSource or RenameSource cannot be\n"
       "read, or the target or the log cannot be written. Exit codes: 0 after a run that reaches\n"
       "its end (whatever the documents' results; with FailExit=1, 3 when documents failed),\n"
       "1 when it cannot start or the log cannot be written, 2 for a command line it cannot use,\n"
       "130/143 after Ctrl+C or a termination signal.\n\n";
  t += "Options (Key=Value; keys ignore letter case, blanks around values too; booleans are 1/0,\n"
       "True/False, yes/no or on/off):\n";
  for (const TkxOptionKey& k : OptionTable()) {
    if (!k.Listed) continue;
    t += Line("  %-17s %-13s %s\n", k.Key, *k.Default ? k.Default : "-", k.Meaning);
  }
  t += "\nExamples:\n";
  t += "  " + me +
       " \"-P:PureConsole=1,Source=/home/ann/in/*.doc?,Target=/home/ann/out/,LogFile=/home/ann/out/run.log\"\n";
  t += "  " + me +
       " \"-P:PureConsole=1,Source=/srv/archive,Subdir=1,Pages=1,Width=200,Target=/srv/thumbs/,Shard=2/3\"\n";
  t += "  cd /home/ann/reports && " + me + " -v *.doc\n";
  t += "\nManual: " + HelpFile(exeName) + " (the help file), and\n";
  t += "\"man " + me + "\" once the program is installed from its package.\n";
  return t;
}

std::string VersionText(const TkxEditionProfile& profile) {
  return profile.Title + " (" + (profile.Edition == kPngEdition ? "PNG" : "EMF") + " edition) " + kVersion + "\n";
}

}  // namespace kx
