# The serial library and the upload road against projector-sim: seeded uploads with faults
# both ways, a pulled plug and a second program on the same port.
if(TARGET projector-sim AND TARGET sample-release AND TARGET halvern-upload)
  halvern_test(test_link_e2e
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_soak.cpp ${CMAKE_CURRENT_LIST_DIR}/test_port_e2e.cpp
    LIBS halvern_upload halvern_serial)
  add_dependencies(test_link_e2e projector-sim sample-release halvern-upload)
  target_compile_definitions(test_link_e2e PRIVATE
    PROJECTOR_SIM_PATH="$<TARGET_FILE:projector-sim>"
    SAMPLE_RELEASE_PATH="$<TARGET_FILE:sample-release>"
    HALVERN_UPLOAD_PATH="$<TARGET_FILE:halvern-upload>")
endif()
