// Directory access: connection and bind, error reports, the RootDSE, DN
// utilities, small lookups and descriptor reads.
#pragma once

#include "Connection.h"
#include "DNUtils.h"
#include "DescriptorReads.h"
#include "EntryRead.h"
#include "ErrorReport.h"
#include "LdapConfig.h"
#include "LdapPtr.h"
#include "Lookups.h"
#include "PagedSearch.h"
#include "RootDSE.h"
