# The web front end in headless Chromium (Debian's), driven by playwright-core from npm.
# Skipped with a note when node, the npm packages or the browser are missing.
find_program(VESK_NODE_PROGRAM node)
set(VESK_CHROMIUM_PROGRAM /usr/bin/chromium)
if(VESK_NODE_PROGRAM AND EXISTS ${CMAKE_SOURCE_DIR}/node_modules/playwright-core AND EXISTS ${VESK_CHROMIUM_PROGRAM})
    add_test(NAME e2e_web_frontend
        COMMAND ${CMAKE_COMMAND} -E env
            VESK_PROGRAM=$<TARGET_FILE:vesk>
            VESK_BUNDLE=${CMAKE_BINARY_DIR}/resources
            VESK_SCREENSHOTS=${CMAKE_BINARY_DIR}/web-frontend
            CHROMIUM=${VESK_CHROMIUM_PROGRAM}
            ${VESK_NODE_PROGRAM} ${CMAKE_CURRENT_SOURCE_DIR}/web_frontend.mjs)
    set_tests_properties(e2e_web_frontend PROPERTIES TIMEOUT 240 LABELS "e2e;browser")
else()
    message(STATUS "e2e_web_frontend left out: it needs node, node_modules/playwright-core (npm ci) and ${VESK_CHROMIUM_PROGRAM}")
endif()
