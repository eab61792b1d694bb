// The dispatch of the authoring tools.
#include "app/AuthorTools.h"

#include "app/CommandLine.h"
#include "app/ExportTool.h"
#include "app/RenderTool.h"
#include "app/ScriptTools.h"

namespace {

int Usage(const CommandLine& cl, const std::string& error, const ToolContext& c) {
  std::fprintf(c.err, "ondrelix: %s\nUsage: ondrelix %s\n", error.c_str(),
               ToolSynopsis(cl.tool).c_str());
  return kExitUsage;
}

}  // namespace

int RunAuthorTool(const CommandLine& cl, const ToolContext& c) {
  if (!cl.error.empty()) return Usage(cl, cl.error, c);
  const ToolOptions& t = cl.tools;
  if (t.operands.empty() && cl.tool != Tool::kList) return Usage(cl, "no file given", c);
  switch (cl.tool) {
    case Tool::kNone:
      break;
    case Tool::kLog:
      return RunLogTool(t.operands[0], t.script, c.out, c.err, c.storePath);
    case Tool::kList:
      return RunListTool(cl.options, c.out, c.err, c.storePath);
    case Tool::kCheck:
      return RunCheckTool(t.operands, c.out, c.err, c.storePath);
    case Tool::kRender: {
      RenderRequest request;
      if (const std::string error = RenderRequestOf(cl, &request); !error.empty())
        return Usage(cl, error, c);
      return RunRender(request);
    }
    case Tool::kExport: {
      ExportRequest request;
      if (const std::string error = ExportRequestOf(cl, &request); !error.empty())
        return Usage(cl, error, c);
      if (c.video == nullptr) return Usage(cl, "this program cannot write videos", c);
      return RunExport(request, *c.video, c.music);
    }
  }
  return Usage(cl, "no tool given", c);
}
