/* A binary Lua module for the script tests: it links no Lua library, so every call it
   makes is answered by the program that loads it. */
#include <lauxlib.h>
#include <lua.h>

static int twice(lua_State* state) {
  lua_pushinteger(state, 2 * luaL_checkinteger(state, 1));
  return 1;
}

__attribute__((visibility("default"))) int luaopen_kolvoprobe(lua_State* state) {
  lua_pushcfunction(state, twice);
  return 1;
}
