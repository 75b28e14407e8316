# Turns a CommonJS (or UMD) file into an ES module whose default export is
# what the file assigns to module.exports.
#   cmake -DINPUT=file.js -DOUTPUT=out.js -DNAME=label -P WrapCommonJS.cmake
file(READ ${INPUT} body)
file(WRITE ${OUTPUT}
  "// ${NAME}, from npm, wrapped as an ES module at build time.\n"
  "const module = { exports: {} };\n"
  "const exports = module.exports;\n"
  "${body}\n"
  "export default module.exports;\n")
