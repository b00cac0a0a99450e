#include "app/commands/script.h"

#include <lua.hpp>

#include <exception>
#include <memory>

#include "app/commands/command_interface.h"
#include "app/commands/message.h"
#include "app/platform/regex.h"

// Lua reports errors with longjmp, which must never jump over a C++ object that needs
// destroying. So every function Lua calls keeps its C++ work in a helper that ends
// before any Lua call that may raise.

namespace {

constexpr const char* kChunkName = "=rbscript";

struct ScriptState {
  QvCommandInterface* context;
  QvResults* results;
  int errorLine;
};

ScriptState& stateOf(lua_State* lua) { return **static_cast<ScriptState**>(lua_getextraspace(lua)); }

// Appends one line; false when memory ran out.
bool appendLine(lua_State* lua, const char* text, std::size_t length) noexcept {
  try {
    stateOf(lua).results->push_back(std::string_view(text, length));
    return true;
  } catch (...) {
    return false;
  }
}

int luaPrint(lua_State* lua) {
  int count = lua_gettop(lua);
  luaL_Buffer line;
  luaL_buffinit(lua, &line);
  for (int i = 1; i <= count; ++i) {
    if (i > 1) luaL_addchar(&line, '\t');
    luaL_tolstring(lua, i, nullptr);
    luaL_addvalue(&line);
  }
  luaL_pushresult(&line);
  std::size_t length = 0;
  const char* text = lua_tolstring(lua, -1, &length);
  if (!appendLine(lua, text, length)) return luaL_error(lua, "not enough memory");
  return 0;
}

// Runs the commands and leaves their lines (as a table) or the failure message on the
// stack; answers false on failure.
bool runCommands(lua_State* lua, const char* text, bool several) noexcept {
  std::string failure;
  try {
    QvResults output;
    QvCommandInterface& context = *stateOf(lua).context;
    if (several) {
      context.processCommandString(text, output);
    } else {
      context.processCommand(text, output);
    }
    lua_createtable(lua, static_cast<int>(output.size()), 0);
    for (std::size_t i = 0; i < output.size(); ++i) {
      lua_pushlstring(lua, output[i].data(), output[i].size());
      lua_rawseti(lua, -2, static_cast<lua_Integer>(i + 1));
    }
    return true;
  } catch (const std::exception& error) {
    failure = error.what();
  } catch (...) {
    failure = "unknown error";
  }
  lua_pushlstring(lua, failure.data(), failure.size());
  return false;
}

int luaProcessCommand(lua_State* lua) {
  const char* line = luaL_checkstring(lua, 1);
  if (!runCommands(lua, line, false)) return lua_error(lua);
  return 1;
}

int luaProcessCommandString(lua_State* lua) {
  const char* text = luaL_checkstring(lua, 1);
  if (!runCommands(lua, text, true)) return lua_error(lua);
  return 1;
}

// Message handler of the run: notes the script line where the error arose.
int luaOnError(lua_State* lua) {
  lua_Debug frame;
  int line = 0;
  for (int level = 0; lua_getstack(lua, level, &frame); ++level) {
    lua_getinfo(lua, "Sl", &frame);
    if (frame.currentline > 0 && frame.source && std::string_view(frame.source) == kChunkName) {
      line = frame.currentline;
      break;
    }
  }
  stateOf(lua).errorLine = line;
  if (!lua_isstring(lua, 1)) {
    if (luaL_callmeta(lua, 1, "__tostring") && lua_type(lua, -1) == LUA_TSTRING) return 1;
    lua_pushfstring(lua, "(error object is a %s value)", luaL_typename(lua, 1));
  }
  return 1;
}

struct LuaClose {
  void operator()(lua_State* lua) const { lua_close(lua); }
};

// "rbscript:12: message" -> 12 and "message"; other texts stay as they are.
int splitPosition(std::string& message) {
  static const QvRegex position("^rbscript:(\\d+): ");
  auto found = position.search(message);
  if (!found) return 0;
  int line = std::stoi(found->group(1));
  message.erase(0, found->end());
  return line;
}

}  // namespace

QvScript::QvScript(QvCommandInterface& context, std::string source, QvResults& results)
    : context(context), source(std::move(source)), results(results) {}

int QvScript::compileErrorNumber() { return LUA_ERRSYNTAX; }

int QvScript::runErrorNumber() { return LUA_ERRRUN; }

void QvScript::reportError(int number, int line, const std::string& message) {
  results.push_back("Error number " + std::to_string(number) + " on Line " + std::to_string(line));
  results.push_back(message);
}

void QvScript::run() {
  try {
    std::unique_ptr<lua_State, LuaClose> lua(luaL_newstate());
    if (!lua) throw std::bad_alloc();
    ScriptState state{&context, &results, 0};
    *static_cast<ScriptState**>(lua_getextraspace(lua.get())) = &state;
    luaL_openlibs(lua.get());
    lua_register(lua.get(), "print", luaPrint);
    lua_register(lua.get(), "processCommand", luaProcessCommand);
    lua_register(lua.get(), "processCommandString", luaProcessCommandString);

    int loaded = luaL_loadbuffer(lua.get(), source.data(), source.size(), kChunkName);
    if (loaded != LUA_OK) {
      std::string message = lua_isstring(lua.get(), -1) ? lua_tostring(lua.get(), -1) : "cannot load the script";
      int line = splitPosition(message);
      reportError(loaded == LUA_ERRSYNTAX ? compileErrorNumber() : loaded, line, message);
      return;
    }
    lua_pushcfunction(lua.get(), luaOnError);
    lua_insert(lua.get(), 1);
    int ran = lua_pcall(lua.get(), 0, 0, 1);
    if (ran != LUA_OK) {
      std::string message = lua_isstring(lua.get(), -1) ? lua_tostring(lua.get(), -1) : "error in the script";
      int line = splitPosition(message);
      if (state.errorLine > 0) line = state.errorLine;
      reportError(ran, line, message);
    }
  } catch (const std::exception& error) {
    results.push_back(error.what());
  }
}
