halvern_test(test_about SOURCES test_about.cpp LIBS halvern_dialog_about halvern_startup GUI)
target_compile_definitions(test_about PRIVATE
  HALVERN_HELP_SOURCE="${HALVERN_HELP_SOURCE}" HALVERN_HELP_BUILT="${HALVERN_HELP_BUILT}")
