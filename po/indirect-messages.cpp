// Console messages that the tool's sources hand to the message catalogue
// through a variable, a table or the second branch of a conditional, where
// xgettext cannot see them at the translating call.  This file is read only
// by po/make-pot.sh to complete the template; it is never compiled.  Each
// text must stay byte-identical to its literal in deltamaint/ (the catalogue
// test checks that every one still occurs there).

// applyKestro.cpp, buildWorkDirs: the mount points' variant of the message.
N_("Fatal Error: Unable to create image working directory %s.")
// applyKestro.cpp, requirePlainPath: the variant for a file.
N_("Fatal error: %s is a symbolic link or not a regular file. Exiting.")
// applyKestro.cpp, parseCommandLine: held in variables, used more than once.
N_("Fatal error: A maintenance bundle path is longer than 299 characters: %s")
N_("Fatal error: Maintenance bundle %s does not exist.")
// apply_bundle.cpp, extractControlFiles: the table of required members.
N_(" Fatal error: Maintenance control file maint_cmd_bash1 was not in the tar file.")
N_("Fatal error: Maintenance control file maintData was not in the tar file.")
N_("Fatal error: Maintenance control file tw.maint_db was not in the tar file.")
// apply_validate.cpp, validateNewImage: the counts, formatted twice.
N_("Total files in image: %d    Total errors: %d. ")
// log_records.cpp, logAndPrintElapsedTime: formatted twice.
N_("Elapsed time = %d:%02d:%02d ")
// inittab.cpp, addRunlevel7Definiition: logged and shown.
N_("Temporary file could not be opened for writing. Exiting.")
// makeKestroBundle.cpp, checkInputs: held in a variable, used twice.
N_("Fatal error: The new tree path \"%s\" holds characters that a shell command must not be "
   "given. Exiting.")
