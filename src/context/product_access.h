// Whether the product directory is one that every user may change.
#pragma once

// The setup runs elevated and loads the product's own libraries from its
// directory, as the product requires: in a directory every user may write,
// any user's code would run with the setup's rights. The run cannot mend
// that, so it says so in the log (one line) when the directory's access
// list lets Users, Authenticated Users or Everyone add or change files.
void LogProductOpenToUsers();
