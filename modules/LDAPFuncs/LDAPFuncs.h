// Directory access: connection and bind, error reports, the RootDSE, DN
// utilities and small lookups.
#pragma once

#include "Connection.h"
#include "DNUtils.h"
#include "ErrorReport.h"
#include "LdapPtr.h"
#include "Lookups.h"
#include "PagedSearch.h"
#include "RootDSE.h"
