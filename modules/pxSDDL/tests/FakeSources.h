// In-memory descriptor sources that record every read.
#pragma once

#include "SddlServices.h"

#include <map>
#include <string>
#include <vector>

namespace pxsddl::testing {

class FakeSources : public DescriptorSources {
  public:
    std::map<std::string, std::string> objects;   // dn -> SDDL
    std::map<std::string, std::string> defaults;  // class -> defaultSecurityDescriptor
    std::map<std::string, std::string> templates; // name -> SDDL
    std::map<std::string, std::string> classes;   // dn -> object class
    std::vector<std::string> calls;

    std::string GetSD(std::string_view dn, const SdParts& parts,
                      std::string_view attribute) override {
        calls.push_back("GetSD|" + std::string(dn) + "|" + std::to_string(parts.Flags()) + "|" +
                        std::string(attribute));
        const auto it = objects.find(std::string(dn));
        if (it == objects.end())
            return "ERROR: Couldn't retrieve SD template object " + std::string(dn);
        return it->second;
    }
    std::string GetDefaultSD(std::string_view schemaNC, std::string_view className) override {
        calls.push_back("GetDefaultSD|" + std::string(schemaNC) + "|" + std::string(className));
        const auto it = defaults.find(std::string(className));
        return it == defaults.end() ? std::string() : it->second;
    }
    std::string GetTemplateSD(std::string_view base, std::string_view scope, std::string_view name,
                              const SdParts&) override {
        calls.push_back("GetTemplateSD|" + std::string(base) + "|" + std::string(scope) + "|" +
                        std::string(name));
        const auto it = templates.find(std::string(name));
        return it == templates.end() ? std::string("ERROR: Didn't retrieve SD\n") : it->second;
    }
    std::string GetObjectClass(std::string_view dn) override {
        calls.push_back("GetObjectClass|" + std::string(dn));
        const auto it = classes.find(std::string(dn));
        return it == classes.end() ? std::string() : it->second;
    }
};

} // namespace pxsddl::testing
