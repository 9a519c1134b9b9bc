# Writes OUTPUT, a C++ source holding every numbered SQL file of SCHEMA_DIR, so that the
# office tool carries its schema and needs no files beside it.
file(GLOB sql_files RELATIVE "${SCHEMA_DIR}" "${SCHEMA_DIR}/[0-9][0-9][0-9]_*.sql")
list(SORT sql_files)
set(steps "")
foreach(name IN LISTS sql_files)
  file(READ "${SCHEMA_DIR}/${name}" text)
  string(SUBSTRING "${name}" 0 3 number)
  math(EXPR number "${number}")
  string(APPEND steps "        {${number}, \"${name}\", R\"palvero_sql(${text})palvero_sql\"},\n")
endforeach()
file(WRITE "${OUTPUT}.new" "// Made by embed_schema.cmake from the files in db/.\n#include \"schema.h\"\n\nnamespace palvero::central {\n\nconst std::vector<SchemaStep>& schemaSteps()\n{\n    static const std::vector<SchemaStep> steps = {\n${steps}    };\n    return steps;\n}\n\n} // namespace palvero::central\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
