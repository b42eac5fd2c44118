// English texts of tolbex's string table. Other languages fall back to these.
#include "tolbex/app/tolbex_strings.h"

#include "common/strings.h"

namespace tv {

namespace {

const StringEntry kEnglish[] = {
    {kStrName, "Name"},
    {kStrPreview, "Preview"},
    {kStrReceivingMail, "Receiving Mail"},
    {kStrClinicCodeNotSet,
     "Warning: The Clinic Code has not been set.\n\nYou set the Clinic Code via \"Options | Default Clinic Code\"."},
    {kStrStoreLogHeader1,
     "-----------------------\nCalvera Log File\n-----------------------\n\nThis log file was produced by Calvera when "
     "its \"storefolder\"\ncommand-line option was used. It lists the results of the \"storefolder\"\noperation as "
     "follows (these items are all one one line for each stored report):\n\n        [Store result status code] If "
     "not 0, report was NOT stored.\n        Date that report was stored.\n        Time that report was stored.\n   "
     "     \"Name of archive group into which report was stored\"\n        \"Name of archive into which report was "
     "stored\"\n        \"Name of report file that was stored\" (\".TVZ\" or \".CEF\" only).\n\n"},
    {kStrStoreLogHeader2,
     "The \"store result status code\" may have any of the following values:\n\n0:   Report stored successfully.\n1:  "
     " Folder does not contain any \"CEF\" or \"TVZ\" files.\n2:   folder doesn't exist.\n3:   One of the files in the "
     "folder is invalid.\n4:   Archive group doesn't exist.\n5:   Archive group is invalid (doesn't contain a valid "
     "\"ARCHDIR.DAT\")\n6:   Archive name doesn't exist.\n7:   Couldn't write files.\n8:   Couldn't uncompress "
     "report.\n9:   Couldn't create a temporary folder.\n11:  The archive is in use by another program; "
     "try again.\n12:  This account cannot open the archive's lock file for writing.\n13:  The archive is "
     "read-only for this account.\n\nIf a store operation was attempted when there were no "
     "report files in the\nsource folder, the log file will say \"No report files in source folder\".\n\nLog file "
     "begins...\n------------------------------------------------------------------------------\n"},
    {kStrNoReportFiles, "No report files in source folder:"},
    {kStrBriscoReport, "Brisco Torvane Medical Report"},
};

}  // namespace

void register_tolbex_strings() { register_string_table(kPrimaryLanguageEnglish, kEnglish, std::size(kEnglish)); }

}  // namespace tv
