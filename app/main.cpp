// The toolkit's entry point creates the one TheApp and runs it.
#include "app/app.h"

wxIMPLEMENT_APP(TheApp);
