// The lamp's identity as lamps/lamp_identity.h gives it to everything
// else: its ids, strings, report and report descriptor, read from the
// header itself so that the tests hold the firmware to the one source.
import { readFileSync } from 'node:fs';

// A C integer expression of numbers, names defined before and + or -.
function evaluate(expression, defines, where) {
  const terms = expression.replace(/\s+/g, '').match(/[+-]?[^+-]+/g) ?? [];
  if (terms.length === 0) throw new Error(`${where}: nothing to evaluate`);
  return terms.reduce((sum, term) => {
    const sign = term.startsWith('-') ? -1 : 1;
    const name = term.replace(/^[+-]/, '');
    const value = /^(0x[0-9a-f]+|[0-9]+)$/i.test(name) ? Number(name) : defines[name];
    if (typeof value !== 'number') throw new Error(`${where}: '${name}' is no number the header defines`);
    return sum + sign * value;
  }, 0);
}

// A C header's text without its comments, and what its #defines of a
// number or a string literal say.
export function readDefines(headerPath) {
  const text = readFileSync(headerPath, 'utf8').replace(/\/\*[\s\S]*?\*\//g, '');
  const defines = {};
  for (const [, name, value] of text.matchAll(/^#define[ \t]+(\w+)[ \t]+(.+?)[ \t]*$/gm)) {
    if (/^".*"$/.test(value)) defines[name] = value.slice(1, -1);
    else if (/^(0x[0-9a-f]+|[0-9]+)$/i.test(value)) defines[name] = Number(value);
  }
  return { text, defines };
}

export function readLampIdentity(headerPath) {
  const { text, defines } = readDefines(headerPath);
  const body = text.match(/kLampReportDescriptor\[\]\s*=\s*\{([^}]*)\}/);
  if (!body) throw new Error(`${headerPath}: no kLampReportDescriptor`);
  const descriptor = body[1].split(',').map((item) => item.trim()).filter((item) => item !== '')
    .map((item) => evaluate(item, defines, `${headerPath}: kLampReportDescriptor`));
  const need = (name) => {
    if (defines[name] === undefined) throw new Error(`${headerPath}: no ${name}`);
    return defines[name];
  };
  return {
    vendorId: need('LAMP_VENDOR_ID'),
    productId: need('LAMP_PRODUCT_ID'),
    manufacturer: need('LAMP_MANUFACTURER'),
    product: need('LAMP_PRODUCT'),
    reportId: need('LAMP_FEATURE_REPORT_ID'),
    reportLength: need('LAMP_FEATURE_REPORT_LENGTH'),
    reportDescriptor: new Uint8Array(descriptor),
  };
}
